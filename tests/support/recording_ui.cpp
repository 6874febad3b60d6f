#include "tests/support/recording_ui.h"

namespace zelm::test {

const char* BrowserButtonName(BrowserButton button) {
    switch (button) {
    case BrowserButton::Connect:
        return "Connect";
    case BrowserButton::GetSummary:
        return "GetSummary";
    case BrowserButton::GetMessage:
        return "GetMessage";
    case BrowserButton::DeleteMessage:
        return "DeleteMessage";
    }
    return "?";
}

void RecordingUi::SetStatusPanel(int index, const std::string& text) {
    calls.push_back("SetStatusPanel(" + std::to_string(index) + "," + text + ")");
    if (index >= 1 && index <= 3) {
        panels[index] = text;
        panelHistory[index].push_back(text);
    }
}

void RecordingUi::SetAbortButton(const std::string& caption, AbortButtonColour colour,
                                 bool enabled) {
    calls.push_back("SetAbortButton(" + caption + "," +
                    (colour == AbortButtonColour::Red ? "red" : "green") + "," +
                    (enabled ? "enabled" : "disabled") + ")");
    abortCaption = caption;
    abortColour = colour;
    abortEnabled = enabled;
}

void RecordingUi::SetTrayAnimation(bool running) {
    calls.push_back(std::string("SetTrayAnimation(") + (running ? "on" : "off") + ")");
    trayAnimating = running;
}

void RecordingUi::ShowMessage(const std::string& text) {
    calls.push_back("ShowMessage(" + text + ")");
    messages.push_back(text);
}

void RecordingUi::PumpEvents() {
    // Pumps are counted but not listed: how often a wait pumps depends on timing.
    ++pumpCount;
    if (onPump) onPump();
}

void RecordingUi::StopSessionTimer() {
    calls.push_back("StopSessionTimer()");
    ++timerStops;
}

void RecordingUi::RestartSessionTimer() {
    calls.push_back("RestartSessionTimer()");
    ++timerRestarts;
}

std::string RecordingUi::MaxAttemptsText() {
    calls.push_back("MaxAttemptsText()");
    return maxAttemptsText;
}

std::vector<std::string> RecordingUi::HeaderFieldNames() {
    calls.push_back("HeaderFieldNames()");
    return headerFieldNames;
}

void RecordingUi::LogLineWritten(LogKind kind, const std::string& line) {
    (kind == LogKind::Session ? sessionLines : errorLines).push_back(line);
    logLines.push_back(line);
}

void RecordingUi::ShowBrowserText(const std::string& text) {
    calls.push_back("ShowBrowserText(" + text + ")");
    browserText = text;
}

void RecordingUi::SetBrowserConnected(bool connected) {
    calls.push_back(std::string("SetBrowserConnected(") + (connected ? "true" : "false") + ")");
    browserConnected = connected;
}

void RecordingUi::SetBrowserHeaderTimer(bool armed) {
    calls.push_back(std::string("SetBrowserHeaderTimer(") + (armed ? "true" : "false") + ")");
    headerTimerArmed = armed;
    if (armed) ++headerTimerArmings;
}

void RecordingUi::SetBrowserButton(BrowserButton button, bool enabled) {
    calls.push_back(std::string("SetBrowserButton(") + BrowserButtonName(button) + "," +
                    (enabled ? "true" : "false") + ")");
    browserButtons[button] = enabled;
}

} // namespace zelm::test
