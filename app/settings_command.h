#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zelm {

/// `zelm settings ...`: args are the arguments after "settings", programDir the prepared home
/// folder (ending with '/'). Takes no lock, so it may run beside the window. Returns the exit
/// status (0, 1 refused or failed, 2 usage error).
int RunSettingsCommand(const std::string& programDir, const std::vector<std::string>& args,
                       std::ostream& out, std::ostream& err);

} // namespace zelm
