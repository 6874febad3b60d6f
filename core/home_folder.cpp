#include "core/home_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/zelm_error.h"

namespace zelm {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string UserHome() {
    const std::string home = Environment("HOME");
    if (!home.empty() && home[0] == '/') return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

/// Absolute and without "." or ".." parts or a trailing '/', so that later file names never
/// depend on the folder the program was started from.
std::string Absolute(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) throw ZelmError("Cannot resolve the home folder '" + path + "'");
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

} // namespace

std::string ResolveHomeFolder(const std::string& homeOption) {
    if (!homeOption.empty()) return Absolute(homeOption);
    const std::string zelmHome = Environment("ZELM_HOME");
    if (!zelmHome.empty()) return Absolute(zelmHome);
    // The XDG rules ignore a relative XDG_DATA_HOME.
    const std::string dataHome = Environment("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome[0] == '/') return Absolute(dataHome + "/zelm");
    const std::string home = UserHome();
    if (home.empty())
        throw ZelmError("Cannot find the home folder: set ZELM_HOME or use --home DIR");
    return Absolute(home + "/.local/share/zelm");
}

std::string PrepareProgramDir(const std::string& homeOption) {
    const std::string folder = ResolveHomeFolder(homeOption);
    // Every folder made here is private: the home folder holds passwords and mail.
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/') continue;
        const std::string part = folder.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) == 0) {
            // mkdir's mode passes through the umask; the folder must end up exactly 0700.
            ::chmod(part.c_str(), 0700);
        } else if (errno != EEXIST) {
            throw ZelmError("Cannot create the home folder '" + folder +
                            "': " + std::strerror(errno));
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw ZelmError("The home folder '" + folder + "' is not a folder");
    return folder == "/" ? folder : folder + "/";
}

InstanceLock::InstanceLock(const std::string& programDir) {
    const std::string path = programDir + LockFileName;
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        throw ZelmError("Cannot open the lock file '" + path + "': " + std::strerror(errno));
    // flock belongs to the open file description: a second InstanceLock, in this process or
    // another, is refused, and the lock ends with the descriptor even when the process dies.
    int rc = 0;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_held = true;
        return;
    }
    const int error = errno;
    ::close(m_fd);
    m_fd = -1;
    if (error != EWOULDBLOCK)
        throw ZelmError("Cannot lock '" + path + "': " + std::strerror(error));
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}

} // namespace zelm
