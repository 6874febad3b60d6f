#pragma once

#include <string>

namespace zelm {

/// Creates the Qt application and, unless another copy runs on the home folder, shows the main
/// window and runs the event loop; returns the exit status (1 for a second copy, after its
/// message, and when no display can be reached). argc and argv must outlive the call (Qt keeps
/// them). The caller holds the home folder's lock when alreadyRunning is false.
int RunDesktop(int& argc, char** argv, const std::string& programDir, bool alreadyRunning);

} // namespace zelm
