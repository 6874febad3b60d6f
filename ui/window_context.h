#pragma once

#include <string>

#include "core/engine_context.h"
#include "session/session.h"

namespace zelm {

class Dialogs;

/// What every page of the window reaches, handed to each page's constructor: the engine state
/// the program owns for its whole life (home folder, store, flags, `CurrentMailbox`, the
/// session object with the `Pop3` and `SMTP` connections) and the modal dialogs. Pages reach
/// each other only through signals that TfrmMain connects.
struct WindowContext {
    /// Home folder (`programDir`), store (`settings`), window seam, logs, flags and
    /// `currentMailbox`.
    EngineContext& engine;
    /// The one processing session with the two connections.
    ProcessingSession& session;
    /// Input boxes, message boxes, file dialogs and the browser.
    Dialogs& dialogs;
    /// The program file's full path, for the start-up entry.
    std::string programPath;
    /// The folder the help page is looked for from (the program file's folder).
    std::string programFolder;

    /// The settings store.
    SettingsDb& Settings() const { return engine.settings; }
};

} // namespace zelm
