#pragma once

#include <string>
#include <vector>

#include "core/engine_ui.h"

namespace zelm {

/// A window that shows nothing, for tools that measure or exercise the engine alone
/// (benchmarks, fuzz targets). The maximum-attempts field reads as its stored default.
class SilentEngineUi : public EngineUi {
public:
    void SetStatusPanel(int, const std::string&) override {}
    void SetAbortButton(const std::string&, AbortButtonColour, bool) override {}
    void SetTrayAnimation(bool) override {}
    void ShowMessage(const std::string&) override {}
    void PumpEvents() override {}
    void StopSessionTimer() override {}
    void RestartSessionTimer() override {}
    std::string MaxAttemptsText() override { return "2"; }
    std::vector<std::string> HeaderFieldNames() override { return {}; }
    void LogLineWritten(LogKind, const std::string&) override {}
    void ShowBrowserText(const std::string&) override {}
    void SetBrowserConnected(bool) override {}
    void SetBrowserHeaderTimer(bool) override {}
    void SetBrowserButton(BrowserButton, bool) override {}
};

} // namespace zelm
