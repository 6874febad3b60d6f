#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"

#ifdef ZELM_WITH_UI
#include "ui/run_desktop.h"
#endif

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    zelm::DesktopLauncher desktop;
#ifdef ZELM_WITH_UI
    desktop = [&argc, argv](const std::string& programDir) {
        return zelm::RunDesktop(argc, argv, programDir);
    };
#endif
    return zelm::RunCommandLine(args, std::cout, std::cerr, desktop);
}
