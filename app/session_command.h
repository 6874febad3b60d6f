#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zelm {

/// `zelm session`: args are the arguments after "session", programDir the prepared home
/// folder (ending with '/'). Returns the exit status.
int RunSessionCommand(const std::string& programDir, const std::vector<std::string>& args,
                      std::ostream& out, std::ostream& err);

} // namespace zelm
