#include "app/terminal_ui.h"

#include "core/program_info.h"
#include "core/schema.h"
#include "messages/header_summary.h"

namespace zelm {

TerminalUi::TerminalUi(SettingsDb& db, std::ostream& out, std::ostream& err, bool verbose)
    : m_db(db), m_out(out), m_err(err), m_verbose(verbose) {}

// A terminal has no status bar, abort button, tray or browser: those calls show nothing.
void TerminalUi::SetStatusPanel(int, const std::string&) {}
void TerminalUi::SetAbortButton(const std::string&, AbortButtonColour, bool) {}
void TerminalUi::SetTrayAnimation(bool) {}
void TerminalUi::ShowBrowserText(const std::string&) {}
void TerminalUi::SetBrowserConnected(bool) {}
void TerminalUi::SetBrowserHeaderTimer(bool) {}
void TerminalUi::SetBrowserButton(BrowserButton, bool) {}

void TerminalUi::ShowMessage(const std::string& text) {
    m_err << text << '\n' << std::flush;
}

void TerminalUi::PumpEvents() {
    if (m_pumpHook) {
        m_pumpHook();
    }
}

// The command's --repeat loop waits from the end of each session, as the timer would.
void TerminalUi::StopSessionTimer() {}
void TerminalUi::RestartSessionTimer() {}

std::string TerminalUi::MaxAttemptsText() {
    ConfigStore root(m_db);
    if (!root.OpenKey(SettingsRoot, false) || !root.ValueExists(schema::MaxAttempts)) {
        return schema::StoredMaxAttempts;
    }
    return root.ReadString(schema::MaxAttempts);
}

std::vector<std::string> TerminalUi::HeaderFieldNames() {
    ConfigStore root(m_db);
    if (!root.OpenKey(SettingsRoot, false) || !root.ValueExists(schema::HeaderFields)) {
        return BuiltInHeaderFieldList();
    }
    return HeaderFieldListFromStored(root.ReadString(schema::HeaderFields));
}

void TerminalUi::LogLineWritten(LogKind, const std::string& line) {
    if (m_verbose) {
        // Exactly as written to the log, CR LF included; flushed so a watcher sees it at once.
        m_out.write(line.data(), static_cast<std::streamsize>(line.size()));
        m_out.flush();
    }
}

} // namespace zelm
