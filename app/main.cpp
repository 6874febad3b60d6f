#include <dlfcn.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/window_module.h"
#include "core/program_info.h"

namespace {

/// The folder of the running executable.
std::string ExecutableFolder() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0) return ".";
    path.resize(static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

/// The window module: beside the executable in a build tree, in ../lib/zelm once installed.
std::string WindowModulePath() {
    const std::string folder = ExecutableFolder();
    const std::string besides = folder + "/" + ZELM_WINDOW_MODULE;
    if (::access(besides.c_str(), R_OK) == 0) return besides;
    return folder + "/../lib/zelm/" + ZELM_WINDOW_MODULE;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    zelm::DesktopLauncher desktop;
#ifdef ZELM_WITH_UI
    desktop = [&argc, argv](const std::string& programDir, bool alreadyRunning) {
        const std::string module = WindowModulePath();
        void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::cerr << zelm::ProgramName << ": cannot load the window: " << ::dlerror() << '\n';
            return 1;
        }
        using Entry = int (*)(int*, char**, const char*, int);
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, ZELM_WINDOW_ENTRY));
        if (entry == nullptr) {
            std::cerr << zelm::ProgramName << ": cannot load the window: " << ::dlerror() << '\n';
            return 1;
        }
        // The module stays loaded until exit: Qt's objects live as long as the process.
        return entry(&argc, argv, programDir.c_str(), alreadyRunning ? 1 : 0);
    };
#endif
    return zelm::RunCommandLine(args, std::cout, std::cerr, desktop);
}
