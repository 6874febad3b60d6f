#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace zelm {

/// Runs the desktop window on the prepared home folder (ending with '/') and returns the exit
/// status. The command line holds the home folder's lock while it runs; when another copy
/// holds it, alreadyRunning is true and the window only tells the user so.
using DesktopLauncher = std::function<int(const std::string& programDir, bool alreadyRunning)>;

/// Runs the command line (the arguments after the program name) and returns the exit status:
/// 0 success, 1 refused or failed (message on err), 2 usage error. Without a command it runs
/// desktop, or fails when this build has none.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const DesktopLauncher& desktop = {});

} // namespace zelm
