#pragma once

#include <string>
#include <vector>

namespace zelm {

/// Colours the abort button shows: green between sessions, red while one runs.
enum class AbortButtonColour { Green, Red };

/// Which log a line was written to, for front ends that echo the logs.
enum class LogKind { Session, Error };

/// The interactive browser's buttons that the POP3 operations enable and disable.
enum class BrowserButton { Connect, GetSummary, GetMessage, DeleteMessage };

/// The engine's only way to the window. The desktop UI, the command line and the tests
/// each implement it; the engine never includes anything of the UI.
class EngineUi {
public:
    virtual ~EngineUi() = default;

    /// Sets status-bar panel 1 (left), 2 (middle) or 3 (right); an empty text clears it.
    virtual void SetStatusPanel(int index, const std::string& text) = 0;
    /// Shows the abort button's caption and colour and whether it can be pressed.
    virtual void SetAbortButton(const std::string& caption, AbortButtonColour colour,
                                bool enabled) = 0;
    /// Starts (true) or stops (false) the tray icon's animation.
    virtual void SetTrayAnimation(bool running) = 0;
    /// Shows a message box with an OK button and waits until it is closed.
    virtual void ShowMessage(const std::string& text) = 0;
    /// Processes pending window events, so the window stays usable during long waits.
    virtual void PumpEvents() = 0;

    /// Stops the session timer while a session runs.
    virtual void StopSessionTimer() = 0;
    /// Restarts the session timer from the interval field when it is on.
    virtual void RestartSessionTimer() = 0;

    /// The Options page's maximum-attempts text, as typed.
    virtual std::string MaxAttemptsText() = 0;
    /// The header field names that filter rules can test, as the filter page holds them.
    virtual std::vector<std::string> HeaderFieldNames() = 0;

    /// Called after every line written to a log, exactly as written (timestamp and CR LF).
    virtual void LogLineWritten(LogKind kind, const std::string& line) = 0;

    /// Interactive browser: shows a text in the message pane.
    virtual void ShowBrowserText(const std::string& text) = 0;
    /// Interactive browser: enables or disables the buttons that need a connection.
    virtual void SetBrowserConnected(bool connected) = 0;
    /// Interactive browser: arms (true) or stops (false) the header-fetching timer.
    virtual void SetBrowserHeaderTimer(bool armed) = 0;
    /// Interactive browser: enables or disables one button (the POP3 operations disable the
    /// message buttons while a reply is read; a session disables Connect).
    virtual void SetBrowserButton(BrowserButton button, bool enabled) = 0;
};

} // namespace zelm
