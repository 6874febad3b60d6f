#pragma once

#include <string>

#include <QWidget>

#include "core/engine_ui.h"
#include "ui/window_context.h"

namespace zelm {

/// The Interactive page: a POP3 conversation by hand with the mailbox selected on the
/// Mailboxes page. The engine reaches it through the window's EngineUi.
class InteractivePage : public QWidget {
    Q_OBJECT
public:
    explicit InteractivePage(WindowContext& context, QWidget* parent = nullptr);

    /// Shows a text in the message pane.
    void ShowBrowserText(const std::string& text);
    /// Enables or disables the buttons that need a connection.
    void SetBrowserConnected(bool connected);
    /// Arms or stops the header-fetching timer.
    void SetBrowserHeaderTimer(bool armed);
    /// Enables or disables one button.
    void SetBrowserButton(BrowserButton button, bool enabled);

private:
    WindowContext& m_context;
};

} // namespace zelm
