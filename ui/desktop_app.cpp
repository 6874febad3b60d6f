#include "ui/desktop_app.h"

#include "ui/frm_main.h"

namespace zelm {
namespace {

constexpr int kWindowSliceMs = 25;

} // namespace

DesktopApp::DesktopApp(const std::string& programDir, Dialogs& dialogs, std::string programPath,
                       std::string programFolder)
    : m_db(programDir + SettingsFileName), m_ui(dialogs), m_context(programDir, m_db, m_ui),
      m_pop3(m_context), m_smtp(m_context),
      m_session(m_context, m_pop3, m_smtp), m_windowContext{m_context, m_session, dialogs,
                                                            std::move(programPath),
                                                            std::move(programFolder)},
      m_window(std::make_unique<TfrmMain>(m_windowContext)) {
    // A reply that comes just before a wait's slice ends is followed by a whole slice of the
    // next wait, so the window can stand still for two slices: they are kept short enough that
    // this stays under 100 ms, when a person notices a window not answering.
    m_pop3.connection.Limits().sliceMs = kWindowSliceMs;
    m_smtp.smtp.Limits().sliceMs = kWindowSliceMs;
    m_ui.Attach(m_window.get());
    m_window->StartUp();
}

DesktopApp::~DesktopApp() {
    m_window->Shutdown();
    m_ui.Attach(nullptr);
}

} // namespace zelm
