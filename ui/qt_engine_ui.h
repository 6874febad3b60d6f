#pragma once

#include <string>
#include <vector>

#include "core/engine_ui.h"

namespace zelm {

class Dialogs;
class TfrmMain;

/// The engine's way to the window: status panels, the abort button, the tray animation and
/// the session timer on TfrmMain, the browser on its Interactive page, message boxes through
/// the dialogs, and pumping through Qt's event loop. Text crosses this edge as UTF-8.
class QtEngineUi : public EngineUi {
public:
    explicit QtEngineUi(Dialogs& dialogs);
    /// The window the calls go to; before it is attached they show nothing.
    void Attach(TfrmMain* window) { m_window = window; }

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

private:
    Dialogs& m_dialogs;
    TfrmMain* m_window = nullptr;
};

} // namespace zelm
