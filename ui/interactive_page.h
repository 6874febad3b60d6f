#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QWidget>

#include "core/engine_ui.h"
#include "messages/header_summary.h"
#include "ui/mailboxes_page.h"
#include "ui/window_context.h"

class QTableWidget;
class QTimer;
class QToolButton;

namespace zelm {

class MessagePane;
class TestRunPane;

/// The Interactive page: a POP3 conversation by hand with the mailbox shown on the Mailboxes
/// page, on the same `Pop3` connection as sessions; `ConnectionInUse` keeps the two apart.
/// The engine reaches it through the window's EngineUi.
class InteractivePage : public QWidget {
    Q_OBJECT
public:
    /// Where Connect takes the mailbox and its server from: the fields as they stand.
    using ConnectionSource = std::function<MailboxesPage::ConnectionFields()>;

    explicit InteractivePage(WindowContext& context, QWidget* parent = nullptr);

    /// Connect reads its values from source from now on.
    void SetConnectionSource(ConnectionSource source) { m_connectionSource = std::move(source); }
    /// The browser holds the connection, from Connect until the connection closes.
    bool Connected() const { return m_holdsConnection; }
    /// A command of the browser waits for its reply; Disconnect and exit wait for it.
    bool Busy() const { return m_busy > 0; }
    /// Exit: a held connection ends with QUIT, so the deletions marked are committed.
    void DisconnectAtExit();

    // What the engine shows (through QtEngineUi).

    /// Shows a text in the message pane.
    void ShowBrowserText(const std::string& text);
    /// false: the `Pop3` connection has closed, for whatever reason.
    void SetBrowserConnected(bool connected);
    /// Arms the header timer for a tick after 1 ms, or disarms it.
    void SetBrowserHeaderTimer(bool armed);
    /// Enables or disables one button.
    void SetBrowserButton(BrowserButton button, bool enabled);

signals:
    /// The browser's command has ended and nothing waits for a reply any more.
    void idle();

private slots:
    void butConnectClick();
    void butDisconnectClick();
    void butGetSummaryClick();
    void butGetMsgClick();
    void butDelMsgClick();
    void butResetClick();
    void butWrapClick();
    void ListView1Click();
    void Timer1Timer();
    void butTestRunClick();

private:
    class BusyScope;

    QToolButton* AddButton(const char* name, const QString& caption, const QString& hint);
    void ShowDisconnectDown();
    void ReleaseConnection();
    void RunDeferred();
    /// The selected row's message number, 0 when no row is selected.
    int SelectedMessage() const;
    void AddRow(const std::string& from, const std::string& subject, const std::string& bytes);

    WindowContext& m_context;
    ConnectionSource m_connectionSource;
    QToolButton* m_butConnect;
    QToolButton* m_butDisconnect;
    QToolButton* m_butGetSummary;
    QToolButton* m_butGetMsg;
    QToolButton* m_butDelMsg;
    QToolButton* m_butReset;
    QToolButton* m_butWrap;
    QToolButton* m_butTestRun;
    TestRunPane* m_testRunPane;
    bool m_testRunning = false;
    QTableWidget* m_listView1;
    MessagePane* m_memoMsg;
    QTimer* m_timer1;

    /// `HeaderTexts`: the header of message n as fetched for the summary, lines joined with
    /// CR LF (entry 0 unused).
    std::vector<std::string> m_headerTexts;
    /// The header summary the browser's TOP fills (From and Subject for the rows).
    MessageState m_message;
    bool m_holdsConnection = false;
    int m_busy = 0;
    bool m_disconnectDeferred = false;
    bool m_tickDeferred = false;
};

} // namespace zelm
