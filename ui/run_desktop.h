#pragma once

#include <string>

namespace zelm {

/// Creates the Qt application, shows the main window and runs the event loop; returns its exit
/// status. argc and argv must outlive the call (Qt keeps them). The caller holds the home
/// folder's lock.
int RunDesktop(int& argc, char** argv, const std::string& programDir);

} // namespace zelm
