#pragma once

#include <memory>
#include <string>

#include "core/config_store.h"
#include "core/engine_context.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session.h"
#include "ui/qt_engine_ui.h"
#include "ui/window_context.h"

namespace zelm {

class Dialogs;
class TfrmMain;

/// Everything the desktop program owns for its whole life: the store, the engine context, the
/// `Pop3` and `SMTP` connections, the session object and the main window. Made after the Qt
/// application; the window is loaded from the store at once and saved when this goes.
class DesktopApp {
public:
    /// Opens the store in programDir (ending with '/') and builds and starts up the window.
    /// programPath is the program file (for the start-up entry), programFolder where the help
    /// page is looked for. Throws ZelmError when the store cannot be opened.
    DesktopApp(const std::string& programDir, Dialogs& dialogs, std::string programPath,
               std::string programFolder);
    /// Runs the window's shutdown (position, shown mailbox, connections).
    ~DesktopApp();
    DesktopApp(const DesktopApp&) = delete;
    DesktopApp& operator=(const DesktopApp&) = delete;

    TfrmMain& Window() { return *m_window; }
    EngineContext& Context() { return m_context; }
    ProcessingSession& Session() { return m_session; }
    SettingsDb& Settings() { return m_db; }

private:
    SettingsDb m_db;
    QtEngineUi m_ui;
    EngineContext m_context;
    Pop3Client m_pop3;
    SmtpSender m_smtp;
    ProcessingSession m_session;
    WindowContext m_windowContext;
    std::unique_ptr<TfrmMain> m_window;
};

} // namespace zelm
