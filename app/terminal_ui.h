#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/engine_ui.h"

namespace zelm {

/// The engine/UI interface for `zelm session`: no window, so progress is not shown; with
/// verbose every log line is echoed to out exactly as written; message boxes go to err; the
/// options the window would hold are read straight from the store.
class TerminalUi : public EngineUi {
public:
    TerminalUi(SettingsDb& db, std::ostream& out, std::ostream& err, bool verbose);

    /// Called from PumpEvents: lets the command notice a signal during a long wait.
    void SetPumpHook(std::function<void()> hook) { m_pumpHook = std::move(hook); }

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
    SettingsDb& m_db;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_verbose;
    std::function<void()> m_pumpHook;
};

} // namespace zelm
