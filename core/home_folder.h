#pragma once

#include <string>

// The home folder: where every file the program keeps lives (the store, the logs, the data
// files, the templates, the outboxes), and the lock that lets one copy run per home folder.
namespace zelm {

/// The lock file in the home folder.
inline constexpr const char* LockFileName = "zelm.lock";

/// The home folder's absolute path without a trailing '/': homeOption when not empty (the
/// --home argument), else ZELM_HOME, else $XDG_DATA_HOME/zelm, else ~/.local/share/zelm.
/// Throws ZelmError when there is no user home to put it in.
std::string ResolveHomeFolder(const std::string& homeOption);

/// Resolves the home folder, creates it (mode 0700, with missing parents) when missing, and
/// returns it with a trailing '/' (`ProgramDir`). Throws ZelmError when it is not a usable
/// folder.
std::string PrepareProgramDir(const std::string& homeOption);

/// The single running copy: an exclusive lock on zelm.lock in the home folder, held for the
/// object's life. Taken only by the window and by `session`.
class InstanceLock {
public:
    /// Tries to take the lock without waiting; Held() tells whether it was taken. Throws
    /// ZelmError when the lock file cannot be opened.
    explicit InstanceLock(const std::string& programDir);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /// This object holds the lock (no other copy runs on the home folder).
    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

} // namespace zelm
