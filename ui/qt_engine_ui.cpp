#include "ui/qt_engine_ui.h"

#include <QCoreApplication>
#include <QString>

#include "core/schema.h"
#include "messages/header_summary.h"
#include "ui/dialogs.h"
#include "ui/filters_page.h"
#include "ui/frm_main.h"
#include "ui/interactive_page.h"
#include "ui/options_page.h"
#include "ui/tray_icon.h"

namespace zelm {

QtEngineUi::QtEngineUi(Dialogs& dialogs) : m_dialogs(dialogs) {}

void QtEngineUi::SetStatusPanel(int index, const std::string& text) {
    if (m_window) m_window->SetStatusPanel(index, QString::fromStdString(text));
}

void QtEngineUi::SetAbortButton(const std::string& caption, AbortButtonColour colour,
                                bool enabled) {
    if (m_window) m_window->SetAbortButton(QString::fromStdString(caption), colour, enabled);
}

void QtEngineUi::SetTrayAnimation(bool running) {
    if (m_window) m_window->Tray().SetAnimation(running);
}

void QtEngineUi::ShowMessage(const std::string& text) {
    m_dialogs.ShowMessage(QString::fromStdString(text));
}

void QtEngineUi::PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEngineUi::StopSessionTimer() {
    if (m_window) m_window->StopSessionTimer();
}

void QtEngineUi::RestartSessionTimer() {
    if (m_window) m_window->RestartSessionTimer();
}

std::string QtEngineUi::MaxAttemptsText() {
    return m_window ? m_window->Options().MaxAttemptsText().toStdString()
                    : schema::StoredMaxAttempts;
}

std::vector<std::string> QtEngineUi::HeaderFieldNames() {
    return m_window ? m_window->Filters().HeaderFieldNames() : BuiltInHeaderFieldList();
}

// The window keeps no copy of the logs: they are files the user opens.
void QtEngineUi::LogLineWritten(LogKind, const std::string&) {}

void QtEngineUi::ShowBrowserText(const std::string& text) {
    if (m_window) m_window->Interactive().ShowBrowserText(text);
}

void QtEngineUi::SetBrowserConnected(bool connected) {
    if (m_window) m_window->Interactive().SetBrowserConnected(connected);
}

void QtEngineUi::SetBrowserHeaderTimer(bool armed) {
    if (m_window) m_window->Interactive().SetBrowserHeaderTimer(armed);
}

void QtEngineUi::SetBrowserButton(BrowserButton button, bool enabled) {
    if (m_window) m_window->Interactive().SetBrowserButton(button, enabled);
}

} // namespace zelm
