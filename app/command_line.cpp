#include "app/command_line.h"

#include <exception>

#include "app/session_command.h"
#include "app/settings_command.h"
#include "app/usage.h"
#include "core/home_folder.h"
#include "core/program_info.h"
#include "core/zelm_error.h"

namespace zelm {
namespace {

int UsageFailure(std::ostream& err, const std::string& message) {
    err << ProgramName << ": " << message << '\n' << UsageHint();
    return 2;
}

int RunDesktopWithLock(const std::string& homeOption, std::ostream& err,
                       const DesktopLauncher& desktop) {
    if (!desktop) {
        err << ProgramName << ": this build has no desktop window; see '" << ProgramName
            << " --help' for the commands\n";
        return 1;
    }
    const std::string programDir = PrepareProgramDir(homeOption);
    const InstanceLock lock(programDir);
    // A second copy still starts the window's toolkit, to say so in a message box.
    return desktop(programDir, !lock.Held());
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const DesktopLauncher& desktop) {
    std::string homeOption;
    std::size_t pos = 0;
    while (pos < args.size() && args[pos].size() > 1 && args[pos][0] == '-') {
        const std::string& arg = args[pos];
        if (arg == "--home") {
            if (pos + 1 >= args.size() || args[pos + 1].empty())
                return UsageFailure(err, "--home needs a folder");
            homeOption = args[pos + 1];
            pos += 2;
        } else if (arg.rfind("--home=", 0) == 0 && arg.size() > 7) {
            homeOption = arg.substr(7);
            ++pos;
        } else if (arg == "--help" || arg == "-h") {
            out << UsageText();
            return 0;
        } else {
            return UsageFailure(err, "unknown option '" + arg + "'");
        }
    }

    try {
        if (pos == args.size()) return RunDesktopWithLock(homeOption, err, desktop);
        const std::string& command = args[pos];
        const std::vector<std::string> rest(args.begin() + static_cast<long>(pos) + 1, args.end());
        if (command == "settings")
            return RunSettingsCommand(PrepareProgramDir(homeOption), rest, out, err);
        if (command == "session")
            return RunSessionCommand(PrepareProgramDir(homeOption), rest, out, err);
        return UsageFailure(err, "unknown command '" + command + "'");
    } catch (const std::exception& error) {
        // The home folder could not be made or locked, or the window failed to start.
        err << ProgramName << ": " << error.what() << '\n';
        return 1;
    }
}

} // namespace zelm
