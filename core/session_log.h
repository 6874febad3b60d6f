#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "core/engine_ui.h"

namespace zelm {

/// "ddd,ddmmmyy hh:mm:ss " for the given moment in local time, English names.
std::string LogTimestamp(std::time_t now);

/// The weekday session log and error.log of the home folder: open for the length of a
/// session, with the weekday rotation and the daily error-log reset.
class SessionLog {
public:
    using Clock = std::function<std::time_t()>;
    /// Takes a line's text (no timestamp, no line end) instead of the log files.
    using Divert = std::function<void(LogKind kind, const std::string& text)>;

    /// programDir ends with '/'. Every written line is also reported to ui.LogLineWritten.
    SessionLog(std::string programDir, EngineUi& ui);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    /// Opens both logs with rotation; throws ZelmError (nothing left open) when it cannot.
    void OpenSessionLogs();
    /// Closes the session log, then the error log. Safe to call when closed.
    void CloseSessionLogs();
    /// Both logs are open (a session runs).
    bool IsOpen() const;

    /// Appends timestamp + text + CR LF to the session log (dropped when closed).
    void WriteSessionLine(const std::string& text);
    /// Appends timestamp + text + CR LF to the error log; outside a session error.log is
    /// opened for the one line.
    void WriteErrorLine(const std::string& text);
    /// The timestamp for now, from the log's clock.
    std::string LogTimestamp() const;

    /// Replaces the clock (tests).
    void SetClock(Clock clock);
    /// While set, every line goes to divert and nowhere else: no file is opened or written and
    /// the window is not told (a test run writes its report only). An empty one ends it.
    void SetDivert(Divert divert) { m_divert = std::move(divert); }

private:
    std::string m_programDir;
    EngineUi& m_ui;
    Clock m_clock;
    Divert m_divert;
    // The last moment stamped and its text: a session writes many lines within one second.
    mutable std::time_t m_stampedMoment = -1;
    mutable std::string m_stamp;
    int m_sessionFd = -1;
    int m_errorFd = -1;
};

} // namespace zelm
