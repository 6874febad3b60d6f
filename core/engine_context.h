#pragma once

#include <string>

#include "core/config_store.h"
#include "core/engine_ui.h"
#include "core/session_log.h"

namespace zelm {

/// What every engine operation reaches: the home folder, the store, the window, the logs and
/// the flags that keep a session and the interactive browser apart. One per application.
struct EngineContext {
    EngineContext(std::string homeDir, SettingsDb& db, EngineUi& window)
        : programDir(std::move(homeDir)), settings(db), ui(window), log(programDir, window) {}

    /// The home folder, ending with '/'; every relative file name points here.
    std::string programDir;
    SettingsDb& settings;
    EngineUi& ui;
    SessionLog log;

    /// Set for a whole session and while the browser is connected.
    bool connectionInUse = false;
    /// Set by the abort button; ends a session after the current message.
    bool abortRequested = false;
    /// True while the interactive browser drives the POP3 client: failures go to dialogs.
    bool interactiveMode = false;
    /// The mailbox shown or being processed.
    std::string currentMailbox;

    /// Full path of the message hand-off file "zelm.dat".
    std::string MessageFilePath() const { return programDir + "zelm.dat"; }
};

} // namespace zelm
