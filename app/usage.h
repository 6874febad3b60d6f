#pragma once

#include <string>

namespace zelm {

/// The command line's usage text, for --help.
std::string UsageText();
/// The line that follows a usage error.
std::string UsageHint();

} // namespace zelm
