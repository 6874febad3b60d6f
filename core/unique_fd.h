#pragma once

#include <unistd.h>

#include <utility>

namespace zelm {

/// Owns one descriptor and closes it when it goes; every descriptor of the program is opened
/// close-on-exec, so a program started by an action never inherits one.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    /// The descriptor, still owned.
    int Get() const { return m_fd; }
    /// Hands the descriptor over; this object no longer closes it.
    int Release() { return std::exchange(m_fd, -1); }
    /// Closes now and reports the result, for writes whose completion matters.
    int Close() { return ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd;
};

} // namespace zelm
