#include "core/session_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/zelm_error.h"

namespace zelm {

namespace {

// Log names and timestamps are English whatever the user's locale, so logs from any machine
// read and sort the same.
constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

// "ddmmmyyyy": two files were written on the same day exactly when their keys are equal.
std::string DateKey(std::time_t moment) {
    const std::tm local = LocalTime(moment);
    char text[16];
    std::snprintf(text, sizeof text, "%02d%s%04d", local.tm_mday, kMonthNames[local.tm_mon],
                  local.tm_year + 1900);
    return text;
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

int OpenLogFile(const std::string& path, bool truncate) {
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throw ZelmError("Cannot open the log file " + path + ": " + ErrnoText(errno));
    }
    return fd;
}

// Opens a log by the rotation rule: a file last written today is appended to; an older one is
// started afresh, keeping its previous contents in the ".old" copy when keepOld is set.
int OpenRotated(const std::string& path, std::time_t now, bool keepOld) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return OpenLogFile(path, true);
    if (DateKey(info.st_mtime) == DateKey(now)) return OpenLogFile(path, false);
    if (keepOld) {
        // Neither step is checked: when one fails the truncating open below still starts the
        // log afresh, which is all a session needs.
        const std::string oldPath = path + ".old";
        ::unlink(oldPath.c_str());
        ::rename(path.c_str(), oldPath.c_str());
    } else {
        ::unlink(path.c_str());
    }
    return OpenLogFile(path, true);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void WriteAll(int fd, const std::string& text, const std::string& name) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw ZelmError("Cannot write the log file " + name + ": " + ErrnoText(errno));
        }
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

std::string LogTimestamp(std::time_t now) {
    const std::tm local = LocalTime(now);
    char text[32];
    std::snprintf(text, sizeof text, "%s,%02d%s%02d %02d:%02d:%02d ", kDayNames[local.tm_wday],
                  local.tm_mday, kMonthNames[local.tm_mon], local.tm_year % 100, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return text;
}

SessionLog::SessionLog(std::string programDir, EngineUi& ui)
    : m_programDir(std::move(programDir)), m_ui(ui), m_clock([] { return std::time(nullptr); }) {}

SessionLog::~SessionLog() {
    CloseSessionLogs();
}

void SessionLog::OpenSessionLogs() {
    CloseSessionLogs();
    const std::time_t now = m_clock();
    // A failure of either open leaves both closed, so a refused session holds no file.
    const int errorFd = OpenRotated(m_programDir + "error.log", now, false);
    try {
        const std::string sessionName = std::string(kDayNames[LocalTime(now).tm_wday]) + ".log";
        m_sessionFd = OpenRotated(m_programDir + sessionName, now, true);
    } catch (...) {
        int fd = errorFd;
        CloseFd(fd);
        throw;
    }
    m_errorFd = errorFd;
}

void SessionLog::CloseSessionLogs() {
    CloseFd(m_sessionFd);
    CloseFd(m_errorFd);
}

bool SessionLog::IsOpen() const {
    return m_sessionFd >= 0 && m_errorFd >= 0;
}

void SessionLog::WriteSessionLine(const std::string& text) {
    if (m_divert) {
        m_divert(LogKind::Session, text);
        return;
    }
    if (m_sessionFd < 0) return;
    const std::string line = LogTimestamp() + text + "\r\n";
    WriteAll(m_sessionFd, line, "of this session");
    m_ui.LogLineWritten(LogKind::Session, line);
}

void SessionLog::WriteErrorLine(const std::string& text) {
    if (m_divert) {
        m_divert(LogKind::Error, text);
        return;
    }
    const std::string line = LogTimestamp() + text + "\r\n";
    const std::string path = m_programDir + "error.log";
    if (m_errorFd >= 0) {
        WriteAll(m_errorFd, line, path);
    } else {
        // Outside a session (the interactive browser) the line still reaches error.log, after
        // the daily reset: appending to yesterday's lines would keep them past the next session.
        int fd = OpenRotated(path, m_clock(), false);
        try {
            WriteAll(fd, line, path);
        } catch (...) {
            CloseFd(fd);
            throw;
        }
        CloseFd(fd);
    }
    m_ui.LogLineWritten(LogKind::Error, line);
}

std::string SessionLog::LogTimestamp() const {
    const std::time_t now = m_clock();
    if (now != m_stampedMoment || m_stamp.empty()) {
        m_stamp = zelm::LogTimestamp(now);
        m_stampedMoment = now;
    }
    return m_stamp;
}

void SessionLog::SetClock(Clock clock) {
    m_clock = std::move(clock);
}

} // namespace zelm
