#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/string_helpers.h"
#include "desktop_entry.h"

namespace zelm {
namespace {

std::string UserHome() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

/// The user's autostart folder, "" when there is no home to put it in.
std::string AutostartFolder() {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config) + "/autostart";
    const std::string home = UserHome();
    if (home.empty()) return {};
    return home + "/.config/autostart";
}

/// Creates folder and its missing parents, private to the user.
bool MakeFolders(const std::string& folder) {
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/') continue;
        const std::string part = folder.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

/// One argument of an Exec line: quoted where it holds a reserved character.
std::string ExecArgument(const std::string& argument) {
    static constexpr const char* reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string out;
    if (!argument.empty() && argument.find_first_of(reserved) == std::string::npos) {
        out = argument;
    } else {
        out = "\"";
        for (const char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    // A lone "%" would start a field code.
    std::string doubled;
    for (const char c : out) {
        doubled += c;
        if (c == '%') doubled += '%';
    }
    return doubled;
}

/// A desktop-entry string value: backslashes and line breaks escaped.
std::string EntryString(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

void SetRunAtStartup(const std::string& valueName, const std::vector<std::string>& arguments,
                     bool enable) {
    // The entry's file is named after the value; a name that is not a plain file name cannot
    // be entered, and like any other refusal that goes unreported.
    if (valueName.empty() || valueName.find_first_of("/\\") != std::string::npos ||
        valueName == "." || valueName == "..")
        return;
    for (const char c : valueName) {
        if (static_cast<unsigned char>(c) < 0x20) return;
    }
    const std::string folder = AutostartFolder();
    if (folder.empty()) return;
    const std::string path = folder + "/" + LowerAscii(valueName) + ".desktop";

    if (!enable) {
        ::unlink(path.c_str());
        return;
    }
    if (arguments.empty() || !MakeFolders(folder)) return;

    std::string exec;
    for (const auto& argument : arguments) {
        if (!exec.empty()) exec += ' ';
        exec += ExecArgument(argument);
    }
    // The installed desktop entry, started with this program's path and arguments.
    std::string entry;
    for (const auto& line : SplitListValue(DesktopEntryText)) {
        entry += line.rfind("Exec=", 0) == 0 ? "Exec=" + EntryString(exec) : line;
        entry += '\n';
    }
    entry += "X-GNOME-Autostart-enabled=true\n";

    // Written beside the entry and renamed over it, so the session never sees half an entry.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return;
    const bool written = WriteAll(fd, entry) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0)
        ::unlink(temporary.c_str());
}

void SetRunAtStartup(const std::string& valueName, const std::string& commandLine, bool enable) {
    SetRunAtStartup(valueName, std::vector<std::string>{commandLine}, enable);
}

} // namespace zelm
