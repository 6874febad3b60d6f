#include "ui/interactive_page.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/schema.h"
#include "core/string_helpers.h"
#include "protocols/pop3.h"
#include "session/session_driver.h"
#include "session/test_run.h"
#include "session/test_run_report.h"
#include "ui/dialogs.h"
#include "ui/message_pane.h"
#include "ui/test_run_pane.h"

namespace zelm {
namespace {

constexpr int kColumnWidths[] = {125, 250, 55};
// Each header fetched arms the timer for the next one after this long.
constexpr int kHeaderTickMs = 1;

std::string JoinLines(MessageLines lines, const char* lineBreak) {
    std::size_t size = 0;
    lines.ForEach([&size](std::string_view line) { size += line.size() + 2; });
    std::string text;
    text.reserve(size);
    bool first = true;
    lines.ForEach([&](std::string_view line) {
        if (!first) text += lineBreak;
        first = false;
        text += line;
    });
    return text;
}

/// The pane's lines end in LF alone.
std::string PaneText(const std::string& text) {
    return ReplaceAll(text, "\r\n", "\n");
}

} // namespace

// Marks the browser busy while a command waits for its reply. Disconnect, a header tick or the
// exit asked for meanwhile would send a command into the middle of that reply; they run once
// the last command has ended.
class InteractivePage::BusyScope {
public:
    explicit BusyScope(InteractivePage& page) : m_page(page) { ++m_page.m_busy; }
    ~BusyScope() {
        if (--m_page.m_busy == 0) QTimer::singleShot(0, &m_page, &InteractivePage::RunDeferred);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    InteractivePage& m_page;
};

InteractivePage::InteractivePage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context),
      m_butConnect(AddButton("butConnect", tr("Connect"), tr("Connect"))),
      m_butDisconnect(AddButton("butDisconnect", tr("Disconnect"), tr("Disconnect"))),
      m_butGetSummary(AddButton("butGetSummary", tr("Get summary"), tr("Get summary"))),
      m_butGetMsg(AddButton("butGetMsg", tr("Get message"), tr("Get message"))),
      m_butDelMsg(AddButton("butDelMsg", tr("Delete message"), tr("Delete message"))),
      m_butReset(AddButton("butReset", tr("Reset"), tr("Reset"))),
      m_butWrap(AddButton("butWrap", tr("W"), tr("Word wrap"))),
      m_butTestRun(AddButton("butTestRun", tr("Test run"), tr("Test run"))),
      m_testRunPane(new TestRunPane(this)), m_listView1(new QTableWidget(0, 3, this)),
      m_memoMsg(new MessagePane([&context] { context.engine.ui.PumpEvents(); }, this)),
      m_timer1(new QTimer(this)) {
    setObjectName("tabInteractive");

    // Connect and Disconnect are one group of toggles: one of them is always down.
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (QToolButton* toggle : {m_butConnect, m_butDisconnect, m_butWrap})
        toggle->setCheckable(true);
    group->addButton(m_butConnect);
    group->addButton(m_butDisconnect);
    ShowDisconnectDown();
    for (QToolButton* button :
         {m_butDisconnect, m_butGetSummary, m_butGetMsg, m_butDelMsg, m_butReset})
        button->setEnabled(false);

    m_listView1->setObjectName("ListView1");
    m_listView1->setAccessibleName(tr("Messages"));
    m_listView1->setHorizontalHeaderLabels({tr("From"), tr("Subject"), tr("Bytes")});
    for (int column = 0; column < 3; ++column)
        m_listView1->setColumnWidth(column, kColumnWidths[column]);
    m_listView1->verticalHeader()->hide();
    // One line of text per row, as a report list shows it.
    m_listView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_listView1->verticalHeader()->setDefaultSectionSize(m_listView1->fontMetrics().height() + 6);
    m_listView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView1->setShowGrid(true);
    m_listView1->setWordWrap(false);

    m_memoMsg->setObjectName("memoMsg");
    m_memoMsg->setAccessibleName(tr("Message"));

    m_timer1->setObjectName("Timer1");
    m_timer1->setSingleShot(true);

    auto* toolbar = new QHBoxLayout;
    toolbar->setSpacing(2);
    toolbar->addWidget(m_butConnect);
    toolbar->addWidget(m_butDisconnect);
    toolbar->addSpacing(8);
    toolbar->addWidget(m_butGetSummary);
    toolbar->addWidget(m_butGetMsg);
    toolbar->addWidget(m_butDelMsg);
    toolbar->addWidget(m_butReset);
    toolbar->addSpacing(8);
    toolbar->addWidget(m_butWrap);
    toolbar->addSpacing(8);
    toolbar->addWidget(m_butTestRun);
    toolbar->addStretch();

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_listView1);
    splitter->addWidget(m_memoMsg);
    splitter->addWidget(m_testRunPane);
    m_testRunPane->hide();
    m_butTestRun->setToolTip(tr("What a session would do with each message of the mailbox "
                                "shown, and why, changing nothing"));
    splitter->setChildrenCollapsible(false);
    // The list and the pane share whatever height the window has; they never make it taller.
    splitter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(toolbar);
    layout->addWidget(splitter, 1);

    // A toggle is pressed when it goes down: a click, a key, or the toggle action a screen
    // reader offers (which never sends "clicked"). The page's own changes are not presses.
    connect(m_butConnect, &QToolButton::toggled, this, [this](bool down) {
        if (down) butConnectClick();
    });
    connect(m_butDisconnect, &QToolButton::toggled, this, [this](bool down) {
        if (down) butDisconnectClick();
    });
    connect(m_butGetSummary, &QToolButton::clicked, this, &InteractivePage::butGetSummaryClick);
    connect(m_butGetMsg, &QToolButton::clicked, this, &InteractivePage::butGetMsgClick);
    connect(m_butDelMsg, &QToolButton::clicked, this, &InteractivePage::butDelMsgClick);
    connect(m_butReset, &QToolButton::clicked, this, &InteractivePage::butResetClick);
    connect(m_butWrap, &QToolButton::toggled, this, &InteractivePage::butWrapClick);
    // A row chosen with the keyboard or a screen reader counts as clicked, as does a click on
    // the row already chosen (it shows the header again after the whole message).
    connect(m_listView1, &QTableWidget::itemSelectionChanged, this,
            &InteractivePage::ListView1Click);
    connect(m_listView1, &QTableWidget::cellClicked, this, &InteractivePage::ListView1Click);
    connect(m_timer1, &QTimer::timeout, this, &InteractivePage::Timer1Timer);
    connect(m_butTestRun, &QToolButton::clicked, this, &InteractivePage::butTestRunClick);
}

// ---- Test run ----

// The session's decisions for the mailbox shown, from its stored settings, changing nothing.
// The engine pumps events while it waits, so the window stays usable; a second click stops
// the run after the current message.
void InteractivePage::butTestRunClick() {
    EngineContext& engine = m_context.engine;
    if (m_testRunning) {
        AbortSession(engine);
        return;
    }
    if (engine.connectionInUse) {
        m_context.dialogs.ShowMessage(tr("The connection is in use (a session runs or the "
                                         "browser is connected): the test run has to wait."));
        return;
    }
    if (engine.currentMailbox.empty()) {
        m_context.dialogs.ShowMessage(tr("No mailbox is shown."));
        return;
    }
    TestRun run(TestRunOptions{engine.currentMailbox, 0});
    m_testRunPane->Clear();
    if (!m_testRunPane->isVisible()) {
        m_testRunPane->show();
        // Shown for the first time, the report takes most of the height: it is what the
        // person reads now.
        if (auto* splitter = qobject_cast<QSplitter*>(m_testRunPane->parentWidget())) {
            const int height = splitter->height();
            splitter->setSizes({height / 5, height / 5, height - 2 * (height / 5)});
        }
    }
    m_testRunPane->AppendLines({{0, "Test run of \"" + engine.currentMailbox + "\"..."}});
    std::string lastMailbox;
    run.messageDone = [this, &lastMailbox](const MailboxReport& mailbox,
                                           const MessageReport& message) {
        if (mailbox.name != lastMailbox) {
            lastMailbox = mailbox.name;
            m_testRunPane->AppendLines(MailboxHeadLines(mailbox));
        }
        m_testRunPane->AppendLines(MessageReportLines(message));
    };
    m_testRunning = true;
    m_butTestRun->setText(tr("Stop test run"));
    m_butTestRun->setAccessibleName(tr("Stop test run"));
    const SessionOutcome outcome = RunTestRun(m_context.session, run);
    m_testRunning = false;
    m_butTestRun->setText(tr("Test run"));
    m_butTestRun->setAccessibleName(tr("Test run"));
    if (outcome == SessionOutcome::Busy) {
        m_testRunPane->Clear();
        m_testRunPane->hide();
        return;
    }
    // The whole report replaces the lines shown while it ran.
    m_testRunPane->Clear();
    m_testRunPane->AppendLines(TestRunReportLines(run.report));
    m_testRunPane->ScrollToTop();
}

QToolButton* InteractivePage::AddButton(const char* name, const QString& caption,
                                        const QString& hint) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setText(caption);
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

void InteractivePage::ShowDisconnectDown() {
    const QSignalBlocker connectQuiet(m_butConnect);
    const QSignalBlocker disconnectQuiet(m_butDisconnect);
    // In an exclusive group a toggle is raised by pressing the other one.
    m_butDisconnect->setChecked(true);
}

// ---- Connecting and disconnecting ----

void InteractivePage::butConnectClick() {
    EngineContext& engine = m_context.engine;
    Pop3Client& pop3 = m_context.session.pop3;
    if (engine.connectionInUse) { // a session, or an earlier Connect
        if (!m_holdsConnection) ShowDisconnectDown();
        return;
    }
    // An old connection is closed before the browser holds the new one; closed later, it
    // would end the new conversation.
    pop3.connection.Close();
    engine.connectionInUse = true;
    m_holdsConnection = true;
    pop3.headerLines.clear();
    pop3.messageBody.clear();
    m_message = MessageState{};
    const HeaderFieldList fields = BuiltInHeaderFieldList();
    pop3.headerParser = [this, fields, &pop3](const std::vector<std::string>& headerLines) {
        return ParseHeaders(headerLines, fields, pop3.messageSize, m_message);
    };

    const MailboxesPage::ConnectionFields shown =
        m_connectionSource ? m_connectionSource() : MailboxesPage::ConnectionFields{};
    if (!shown.security) {
        m_context.dialogs.ShowMessage(tr("The mailbox's POP3 security is none of \"None\", "
                                         "\"STARTTLS\" and \"SSL/TLS\": choose one on the "
                                         "Mailboxes page."));
        ReleaseConnection();
        ShowDisconnectDown();
        return;
    }
    engine.currentMailbox = shown.mailbox.toStdString();
    pop3.connection.SetEndpoint(shown.host.toStdString());
    engine.interactiveMode = true;
    // The shown mailbox's protection, never what the last session left in the client.
    pop3.security = *shown.security;
    pop3.certFingerprint = shown.certFingerprint;
    pop3.connection.SetPort(TextToIntDef(
        shown.port.toStdString(),
        pop3.security == ConnectionSecurity::Tls ? schema::SessionTlsPort : schema::SessionPort));
    {
        const BusyScope busy(*this);
        ShowingErrors(m_context.dialogs, [&] { Pop3Open(pop3, shown.userId, shown.password); });
    }

    if (!pop3.connection.Active()) {
        ReleaseConnection();
        ShowDisconnectDown();
        return;
    }
    if (m_butConnect->isChecked()) m_butConnect->setEnabled(false);
    if (!m_butConnect->isEnabled()) m_butDisconnect->setEnabled(true);
    m_headerTexts.assign(static_cast<std::size_t>(std::max(pop3.messageTotal, 0)) + 1, {});
    pop3.nextHeaderIndex = 1;
    m_listView1->setRowCount(0);
}

void InteractivePage::butDisconnectClick() {
    if (Busy()) {
        m_disconnectDeferred = true;
        return;
    }
    m_disconnectDeferred = false;
    if (m_butDisconnect->isChecked()) m_butDisconnect->setEnabled(false);
    if (!m_butDisconnect->isEnabled()) m_butConnect->setEnabled(true);
    if (m_holdsConnection) {
        const BusyScope busy(*this);
        ShowingErrors(m_context.dialogs, [&] { Pop3Quit(m_context.session.pop3); });
    }
    ReleaseConnection();
}

void InteractivePage::DisconnectAtExit() {
    if (!m_holdsConnection) return;
    // A refused QUIT goes to the error log: no message box holds the exit up.
    m_context.engine.interactiveMode = false;
    ShowingErrors(m_context.dialogs, [&] { Pop3Quit(m_context.session.pop3); });
    ReleaseConnection();
}

// The conversation is over: the flags, the parser and the lists it made go.
void InteractivePage::ReleaseConnection() {
    m_timer1->stop();
    m_tickDeferred = false;
    if (!m_holdsConnection) return;
    m_holdsConnection = false;
    EngineContext& engine = m_context.engine;
    engine.connectionInUse = false;
    engine.interactiveMode = false;
    Pop3Client& pop3 = m_context.session.pop3;
    pop3.headerParser = nullptr;
    pop3.headerLines.clear();
    pop3.messageBody.clear();
}

void InteractivePage::RunDeferred() {
    if (Busy()) return;
    if (m_disconnectDeferred) butDisconnectClick();
    if (m_tickDeferred && m_holdsConnection) {
        m_tickDeferred = false;
        m_timer1->start(kHeaderTickMs);
    }
    emit idle();
}

// ---- The summary ----

void InteractivePage::butGetSummaryClick() {
    if (m_context.engine.interactiveMode) m_timer1->start(kHeaderTickMs);
    if (m_context.engine.connectionInUse) m_butGetSummary->setEnabled(false);
}

void InteractivePage::Timer1Timer() {
    m_timer1->stop();
    // During a session the connection is not the browser's.
    if (!m_holdsConnection || m_disconnectDeferred) return;
    if (Busy()) {
        m_tickDeferred = true;
        return;
    }
    Pop3Client& pop3 = m_context.session.pop3;
    const int n = pop3.nextHeaderIndex;
    if (pop3.messageTotal <= 0 || n > pop3.messageTotal) return;

    const BusyScope busy(*this);
    bool sized = false;
    bool headerRead = false;
    ShowingErrors(m_context.dialogs, [&] {
        sized = Pop3List(pop3, n);
        // A connection that closed during LIST has ended the conversation.
        if (m_holdsConnection) headerRead = Pop3Top(pop3, n);
    });
    // A refused TOP leaves no header of this message: a row would show another message's
    // sender and subject. The summary stops here; a later Get summary asks for it again.
    if (!headerRead) return;
    if (static_cast<std::size_t>(n) < m_headerTexts.size())
        m_headerTexts[static_cast<std::size_t>(n)] = JoinLines(pop3.headerLines, "\r\n");
    m_context.engine.ui.SetStatusPanel(1, std::to_string(n) + " headers retrieved");
    const HeaderSummary& summary = m_message.headerSummary;
    AddRow(summary.from, summary.subject, sized ? std::to_string(pop3.messageSize) : "");
    pop3.nextHeaderIndex = n + 1;
}

void InteractivePage::AddRow(const std::string& from, const std::string& subject,
                             const std::string& bytes) {
    const int row = m_listView1->rowCount();
    m_listView1->insertRow(row);
    int column = 0;
    for (const std::string* text : {&from, &subject, &bytes}) {
        auto* item = new QTableWidgetItem(QString::fromStdString(*text));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        m_listView1->setItem(row, column++, item);
    }
}

// ---- One message ----

int InteractivePage::SelectedMessage() const {
    const auto rows = m_listView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : rows.first().row() + 1;
}

void InteractivePage::ListView1Click() {
    const int n = SelectedMessage();
    if (n == 0) return;
    if (m_butDisconnect->isEnabled()) {
        m_butDelMsg->setEnabled(true);
        m_butGetMsg->setEnabled(true);
        const auto index = static_cast<std::size_t>(n);
        m_memoMsg->ShowText(index < m_headerTexts.size() ? PaneText(m_headerTexts[index])
                                                         : std::string());
    }
    m_context.engine.ui.SetStatusPanel(1, "Message " + std::to_string(n) + " of " +
                                              std::to_string(m_context.session.pop3.messageTotal));
}

void InteractivePage::butGetMsgClick() {
    if (!m_butDisconnect->isEnabled()) {
        m_context.dialogs.ShowMessage(tr("You are not connected."));
        return;
    }
    const int n = SelectedMessage();
    if (n == 0 || Busy() || !m_holdsConnection) return;
    Pop3Client& pop3 = m_context.session.pop3;
    {
        const BusyScope busy(*this);
        ShowingErrors(m_context.dialogs, [&] {
            try {
                Pop3Retr(pop3, n);
            } catch (...) {
                // "zelm.dat" could not be written: the message did not arrive whole.
                pop3.messageBody.clear();
                m_context.engine.ui.SetStatusPanel(2, "");
                throw;
            }
        });
    }
    // The header's lines, then the body's: the header's last line is the empty one between.
    const auto index = static_cast<std::size_t>(n);
    std::string text = index < m_headerTexts.size() ? PaneText(m_headerTexts[index]) : "";
    if (!pop3.messageBody.empty()) {
        text += '\n';
        text += JoinLines(pop3.messageBody, "\n");
    }
    m_memoMsg->ShowText(std::move(text));
}

void InteractivePage::butDelMsgClick() {
    const int n = SelectedMessage();
    if (!m_butDisconnect->isEnabled() || n == 0 || Busy() || !m_holdsConnection) return;
    {
        const BusyScope busy(*this);
        ShowingErrors(m_context.dialogs, [&] { Pop3Dele(m_context.session.pop3, n); });
    }
    m_memoMsg->ShowText({});
    m_butReset->setEnabled(true);
}

void InteractivePage::butResetClick() {
    if (Busy() || !m_holdsConnection) return;
    {
        const BusyScope busy(*this);
        ShowingErrors(m_context.dialogs, [&] { Pop3Rset(m_context.session.pop3); });
    }
    m_butReset->setEnabled(false);
}

void InteractivePage::butWrapClick() {
    m_memoMsg->SetWrapped(m_butWrap->isChecked());
}

// ---- What the engine shows ----

void InteractivePage::ShowBrowserText(const std::string& text) {
    m_memoMsg->ShowText(PaneText(text));
}

void InteractivePage::SetBrowserConnected(bool connected) {
    if (connected) return;
    // Pop3Disconnect; the engine itself shows "Disconnected".
    ShowDisconnectDown();
    m_butConnect->setEnabled(true);
    for (QToolButton* button :
         {m_butReset, m_butDisconnect, m_butGetSummary, m_butGetMsg, m_butDelMsg})
        button->setEnabled(false);
    // A server that went away ends the browser's conversation as Disconnect would, so a
    // session can start again.
    ReleaseConnection();
}

void InteractivePage::SetBrowserHeaderTimer(bool armed) {
    if (armed) {
        m_timer1->start(kHeaderTickMs);
    } else {
        m_timer1->stop();
    }
}

void InteractivePage::SetBrowserButton(BrowserButton button, bool enabled) {
    switch (button) {
    case BrowserButton::Connect:
        m_butConnect->setEnabled(enabled);
        break;
    case BrowserButton::GetSummary:
        m_butGetSummary->setEnabled(enabled);
        break;
    case BrowserButton::GetMessage:
        m_butGetMsg->setEnabled(enabled);
        break;
    case BrowserButton::DeleteMessage:
        m_butDelMsg->setEnabled(enabled);
        break;
    }
}

} // namespace zelm
