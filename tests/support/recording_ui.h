#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/engine_ui.h"

namespace zelm::test {

/// An EngineUi that records every call, so tests can check what the engine showed the user.
class RecordingUi : public EngineUi {
public:
    void SetStatusPanel(int index, const std::string& text) override;
    void SetAbortButton(const std::string& caption, AbortButtonColour colour,
                        bool enabled) override;
    void SetTrayAnimation(bool running) override;
    void ShowMessage(const std::string& text) override;
    void PumpEvents() override;
    void StopSessionTimer() override;
    void RestartSessionTimer() override;
    std::string MaxAttemptsText() override;
    std::vector<std::string> HeaderFieldNames() override;
    void LogLineWritten(LogKind kind, const std::string& line) override;
    void ShowBrowserText(const std::string& text) override;
    void SetBrowserConnected(bool connected) override;
    void SetBrowserHeaderTimer(bool armed) override;
    void SetBrowserButton(BrowserButton button, bool enabled) override;

    /// Every call in order, as "Name(arguments)", e.g. "SetStatusPanel(2,Retrieving 3)".
    std::vector<std::string> calls;
    /// Current texts of panels 1 to 3 (index 0 unused).
    std::array<std::string, 4> panels;
    /// Every text ever set on each panel, in order (index 0 unused).
    std::array<std::vector<std::string>, 4> panelHistory;
    /// The abort button as last set.
    std::string abortCaption;
    AbortButtonColour abortColour = AbortButtonColour::Green;
    bool abortEnabled = false;
    bool trayAnimating = false;
    /// Texts of the message boxes shown, in order.
    std::vector<std::string> messages;
    /// Number of PumpEvents calls.
    int pumpCount = 0;
    int timerStops = 0;
    int timerRestarts = 0;
    /// Lines reported as written to the session log and to the error log.
    std::vector<std::string> sessionLines;
    std::vector<std::string> errorLines;
    /// Both logs' lines in the order written, as they would be echoed by `session --verbose`.
    std::vector<std::string> logLines;
    /// The browser's pane text, connected state, header timer and buttons as last set.
    std::string browserText;
    bool browserConnected = false;
    bool headerTimerArmed = false;
    int headerTimerArmings = 0;
    std::map<BrowserButton, bool> browserButtons;

    /// Answers for the questions the engine asks the window.
    std::string maxAttemptsText = "2";
    std::vector<std::string> headerFieldNames;
    /// Run inside every PumpEvents call (e.g. to press the abort button mid-wait).
    std::function<void()> onPump;
};

/// The name a recorded call uses for a browser button.
const char* BrowserButtonName(BrowserButton button);

} // namespace zelm::test
