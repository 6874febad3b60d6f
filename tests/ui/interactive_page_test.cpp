// The Interactive page against the scripted fake server.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>
#include <vector>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include "core/config_store.h"
#include "core/schema.h"
#include "protocols/pop3.h"
#include "tests/support/fake_server.h"
#include "tests/support/pop3_script.h"
#include "tests/ui/browser_fixture.h"
#include "ui/interactive_page.h"
#include "ui/test_run_pane.h"

namespace zelm::test {
namespace {

struct Header {
    std::string from, subject;
    int size;
};

const Header kHeaders[] = {
    {"Ann <ann@example.org>", "first", 310},
    {"bob@example.org", "second", 1200},
    {"Cy <cy@example.org>", "third", 45},
};

std::string HeaderText(int n) {
    const Header& header = kHeaders[n - 1];
    return "From: " + header.from + "\r\nSubject: " + header.subject + "\r\n";
}

/// LIST and TOP of message n as the summary asks for them.
std::vector<ScriptStep> SummaryScript(int n) {
    const std::string number = std::to_string(n);
    return {script::Expect("LIST " + number + "\r\n"),
            script::Send("+OK " + number + " " + std::to_string(kHeaders[n - 1].size) + "\r\n"),
            script::Expect("TOP " + number + " 0\r\n"),
            script::Send("+OK\r\n" + HeaderText(n) + "\r\n.\r\n")};
}

/// RETR of message n with a body, after delayMs.
std::vector<ScriptStep> RetrScript(int n, const std::string& stuffedBody, int delayMs = 0) {
    std::vector<ScriptStep> steps{script::Expect("RETR " + std::to_string(n) + "\r\n")};
    if (delayMs > 0) steps.push_back(script::Wait(delayMs));
    steps.push_back(script::Send("+OK\r\n" + HeaderText(n) + "\r\n" + stuffedBody + ".\r\n"));
    return steps;
}

class Browser : public BrowserFixture {
protected:
    QToolButton* Button(const char* name) { return Find<QToolButton>(name); }

    /// The flags the browser and sessions share.
    EngineContext& Engine() { return App().Context(); }

    /// The stored mailbox "home" points at the server, for a session.
    void StoreServer(const FakeServer& server) {
        const std::string key = MailboxKeyPath("home");
        WriteRegString(Store(), key, schema::Host, "127.0.0.1");
        WriteRegString(Store(), key, schema::Port, std::to_string(server.Port()));
        WriteRegString(Store(), key, schema::UserID, "u");
        WriteRegString(Store(), key, schema::Password, ScramblePassword("pw"));
    }

    bool SessionLogWritten() const {
        for (const auto& entry : std::filesystem::directory_iterator(home.Dir())) {
            const std::string name = entry.path().filename().string();
            if (name.size() == 7 && name.ends_with(".log")) return true;
        }
        return false;
    }

    /// The toggles show the page disconnected: Connect up and enabled, Disconnect down and
    /// disabled, and the message buttons off.
    void ExpectDisconnected() {
        EXPECT_TRUE(Button("butConnect")->isEnabled());
        EXPECT_FALSE(Button("butConnect")->isChecked());
        EXPECT_FALSE(Button("butDisconnect")->isEnabled());
        EXPECT_TRUE(Button("butDisconnect")->isChecked());
        for (const char* name : {"butGetSummary", "butGetMsg", "butDelMsg", "butReset"})
            EXPECT_FALSE(Button(name)->isEnabled()) << name;
        EXPECT_FALSE(Engine().connectionInUse);
        EXPECT_FALSE(Engine().interactiveMode);
        EXPECT_FALSE(App().Session().pop3.connection.Active());
    }
};

TEST_F(Browser, ThePageStartsDisconnectedAndItsListIsAReadOnlyReport) {
    StartWithMailbox();
    ExpectDisconnected();
    EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
    EXPECT_EQ(Button("butWrap")->text(), "W");
    EXPECT_EQ(Button("butWrap")->accessibleName(), "Word wrap");
    EXPECT_EQ(Button("butGetSummary")->accessibleName(), "Get summary");

    QTableWidget* list = List();
    ASSERT_EQ(list->columnCount(), 3);
    const std::pair<QString, int> columns[] = {{"From", 125}, {"Subject", 250}, {"Bytes", 55}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list->horizontalHeaderItem(i)->text(), columns[i].first);
        EXPECT_EQ(list->columnWidth(i), columns[i].second);
    }
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(list->showGrid());
    EXPECT_TRUE(Pane()->isReadOnly());
}

TEST_F(Browser, WordWrapWrapsThePaneAtItsWidthAndReleasedScrollsBothWays) {
    StartWithMailbox();
    QPlainTextEdit* pane = Pane();
    EXPECT_EQ(pane->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    Click("butWrap");
    EXPECT_TRUE(Button("butWrap")->isChecked());
    EXPECT_EQ(pane->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    Click("butWrap");
    EXPECT_EQ(pane->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(Browser, ThreeMessagesGiveThreeRowsOneTickEachAndAFourthTickStops) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 3), SummaryScript(1), SummaryScript(2),
                                   SummaryScript(3), Pop3QuitScript()}));
    StartWithMailbox();
    ConnectTo(server.Port());
    EXPECT_EQ(PaneText(), "Mailbox: home\nTotal messages: 3\nTotal Bytes: 1000\n");
    EXPECT_EQ(Status(), "Connected to home");
    EXPECT_FALSE(Button("butConnect")->isEnabled());
    EXPECT_TRUE(Button("butDisconnect")->isEnabled());
    EXPECT_TRUE(Button("butGetSummary")->isEnabled());
    EXPECT_TRUE(Engine().connectionInUse);

    // Whatever the status shows between two ticks counts the rows already there.
    std::vector<std::pair<int, QString>> seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (Status().endsWith(" headers retrieved"))
            seen.emplace_back(List()->rowCount(), Status());
    });
    watch.start(0);
    ASSERT_TRUE(FetchSummary(3));
    watch.stop();
    ASSERT_FALSE(seen.empty());
    for (const auto& [rows, status] : seen)
        EXPECT_EQ(status, QString("%1 headers retrieved").arg(rows));
    EXPECT_EQ(Status(), "3 headers retrieved");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, 0), QString::fromStdString(kHeaders[row].from));
        EXPECT_EQ(Cell(row, 1), QString::fromStdString(kHeaders[row].subject));
        EXPECT_EQ(Cell(row, 2), QString::number(kHeaders[row].size));
    }

    // The list is complete: another Get summary asks the server for nothing.
    Click("butGetSummary");
    EXPECT_TRUE(WaitFor([&] { return !Find<QTimer>("Timer1")->isActive(); }));
    EXPECT_EQ(List()->rowCount(), 3);

    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(Status(), "Disconnected");
    ExpectDisconnected();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
}

TEST_F(Browser, AMailboxWithoutMessagesGetsNoRows) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 0), Pop3QuitScript()}));
    StartWithMailbox();
    ConnectTo(server.Port());
    ASSERT_TRUE(FetchSummary(0));
    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST_F(Browser, ConnectTakesTheShownMailboxsSecurityNotTheLastSessions) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 0), Pop3QuitScript()}));
    StartWithMailbox();
    // What a session over TLS with a pin left in the shared client.
    App().Session().pop3.security = ConnectionSecurity::Tls;
    App().Session().pop3.certFingerprint = "AB:CD";
    ConnectTo(server.Port());
    EXPECT_EQ(Status(), "Connected to home");
    EXPECT_EQ(App().Session().pop3.security, ConnectionSecurity::None);
    EXPECT_EQ(App().Session().pop3.certFingerprint, "");
    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST_F(Browser, ConnectRefusesAStoredSecurityItDoesNotKnow) {
    CreateMailbox(Store(), "home", {true, "100", "", ""});
    WriteRegString(Store(), MailboxKeyPath("home"), schema::Pop3Security, "ssl");
    StorePosition();
    Start();
    Find<QTabWidget>("pgcMain")->setCurrentWidget(&Window().Interactive());
    EXPECT_EQ(Find<QComboBox>("cmbPop3Security")->currentIndex(), -1);
    ConnectTo(1);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.first().startsWith("The mailbox's POP3 security is none of"));
    ExpectDisconnected();
}

TEST_F(Browser, TheSecondRowShowsItsHeaderAndGetMessageAddsTheUnstuffedBody) {
    FakeServer server(
        JoinScripts({Pop3LoginScript("u", 3), SummaryScript(1), SummaryScript(2), SummaryScript(3),
                     RetrScript(2, "body line\r\n..starts with a dot\r\n"), Pop3QuitScript()}));
    StartWithMailbox();
    ConnectTo(server.Port());
    ASSERT_TRUE(FetchSummary(3));

    ClickRow(1);
    EXPECT_EQ(PaneText(), "From: bob@example.org\nSubject: second\n");
    EXPECT_EQ(Status(), "Message 2 of 3");
    EXPECT_TRUE(Button("butGetMsg")->isEnabled());
    EXPECT_TRUE(Button("butDelMsg")->isEnabled());

    Click("butGetMsg");
    EXPECT_EQ(PaneText(),
              "From: bob@example.org\nSubject: second\n\nbody line\n.starts with a dot");
    EXPECT_EQ(Pane()->verticalScrollBar()->value(), 0);
    EXPECT_EQ(home.Read("zelm.dat"),
              "From: bob@example.org\r\nSubject: second\r\n\r\nbody line\r\n.starts with a "
              "dot\r\n");

    // Clicking the row again shows its header again.
    ClickRow(1);
    EXPECT_EQ(PaneText(), "From: bob@example.org\nSubject: second\n");
    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST_F(Browser, DeleteThenResetSendsDeleThenRsetAndTheRowStays) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 2),
                                   SummaryScript(1),
                                   SummaryScript(2),
                                   {script::Expect("DELE 1\r\n"), script::Send("+OK marked\r\n"),
                                    script::Expect("RSET\r\n"), script::Send("+OK\r\n")},
                                   Pop3QuitScript()}));
    StartWithMailbox();
    ConnectTo(server.Port());
    ASSERT_TRUE(FetchSummary(2));
    EXPECT_FALSE(Button("butReset")->isEnabled());

    ClickRow(0);
    Click("butDelMsg");
    EXPECT_EQ(PaneText(), "");
    EXPECT_TRUE(Button("butReset")->isEnabled());
    EXPECT_EQ(List()->rowCount(), 2);
    Click("butReset");
    EXPECT_FALSE(Button("butReset")->isEnabled());
    EXPECT_EQ(List()->rowCount(), 2);

    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
}

TEST_F(Browser, DisconnectClosesTheConnectionEvenWhenQuitIsRefused) {
    FakeServer server(JoinScripts(
        {Pop3LoginScript("u", 0), {script::Expect("QUIT\r\n"), script::Send("-ERR not now\r\n")}}));
    StartWithMailbox();
    ConnectTo(server.Port());
    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(dialogs.messages, QStringList{"-ERR not now\r\n"});
    EXPECT_EQ(Status(), "Disconnected");
    ExpectDisconnected();
}

TEST_F(Browser, AServerThatCannotBeReachedIsNamedInADialog) {
    StartWithMailbox();
    ConnectTo(ClosedLoopbackPort());
    EXPECT_EQ(dialogs.messages, QStringList{"Could not connect to home"});
    ExpectDisconnected();
}

TEST_F(Browser, ThePortFieldGives110WhenItIsNoNumber) {
    StartWithMailbox();
    // With no host nothing is connected to; the port is set all the same.
    const std::pair<QString, int> cases[] = {{"", 110}, {"abc", 110}, {"12x", 110}, {"2525", 2525}};
    for (const auto& [text, port] : cases) {
        SCOPED_TRACE(text.toStdString());
        ShowConnection("", text);
        Click("butConnect");
        EXPECT_EQ(App().Session().pop3.connection.Port(), port);
        ExpectDisconnected();
    }
}

TEST_F(Browser, ARefusedLoginLeavesTheTabConnectedUntilDisconnect) {
    FakeServer server({script::Send("+OK ready\r\n"), script::Expect("USER u\r\n"),
                       script::Send("+OK\r\n"), script::Expect("PASS pw\r\n"),
                       script::Send("-ERR wrong password\r\n"), script::Expect("QUIT\r\n"),
                       script::Send("+OK\r\n")});
    StartWithMailbox();
    ConnectTo(server.Port());
    EXPECT_EQ(dialogs.messages, QStringList{"-ERR wrong password\r\n"});
    EXPECT_TRUE(Button("butDisconnect")->isEnabled());
    EXPECT_FALSE(Button("butGetSummary")->isEnabled());
    EXPECT_FALSE(Engine().interactiveMode);
    EXPECT_TRUE(Engine().connectionInUse);

    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    ExpectDisconnected();
}

TEST_F(Browser, ARefusedTopAddsNoRowAndEndsTheSummaryThere) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 2),
                                   {script::Expect("LIST 1\r\n"), script::Send("+OK 1 310\r\n"),
                                    script::Expect("TOP 1 0\r\n"), script::Send("-ERR no\r\n")},
                                   Pop3QuitScript()}));
    StartWithMailbox();
    ConnectTo(server.Port());
    ASSERT_TRUE(FetchSummary(0));
    EXPECT_FALSE(Button("butGetSummary")->isEnabled());
    EXPECT_NE(home.Read("error.log").find("Pop3 TOP: \r\n-ERR no\r\n"), std::string::npos)
        << home.Read("error.log");
    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST_F(Browser, AServerThatGoesAwayEndsTheConversationAndSessionsRunAgain) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 2), {script::Close()}}));
    StartWithMailbox();
    ConnectTo(server.Port());
    EXPECT_TRUE(server.Finish()) << server.Failure();
    Click("butGetSummary");
    EXPECT_TRUE(WaitFor([&] { return Status() == "Disconnected"; }));
    ExpectDisconnected();
    EXPECT_EQ(List()->rowCount(), 0);

    Click("butStart");
    EXPECT_TRUE(SessionLogWritten());
}

TEST_F(Browser, ConnectDoesNothingWhileASessionRuns) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 0, 300), Pop3QuitScript()}));
    StartWithMailbox();
    StoreServer(server);
    ShowConnection("127.0.0.1", QString::number(server.Port()));
    bool triedDuringSession = false;
    QTimer::singleShot(150, [&] {
        triedDuringSession = Engine().connectionInUse;
        // The session has disabled Connect; the handler itself refuses as well.
        EXPECT_FALSE(Button("butConnect")->isEnabled());
        QMetaObject::invokeMethod(&Window().Interactive(), "butConnectClick");
        EXPECT_FALSE(Button("butConnect")->isChecked());
        EXPECT_FALSE(Window().Interactive().Connected());
    });
    Click("butStart");
    EXPECT_TRUE(triedDuringSession);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
    ExpectDisconnected();
}

TEST_F(Browser, ManualStartAndTheTimerDoNothingWhileConnected) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 0), Pop3QuitScript()}));
    StoreString("SessionInterval", "1");
    StartWithMailbox();
    StoreServer(server);
    ConnectTo(server.Port());
    Click("butStart");
    Click("butTimer");
    ASSERT_TRUE(Find<QTimer>("SessionTimer")->isActive());
    EXPECT_FALSE(WaitFor([&] { return SessionLogWritten(); }, 1600));
    EXPECT_TRUE(Window().Interactive().Connected());
    Click("butTimer");

    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(Browser, ExitWhileConnectedSendsQuit) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 0), Pop3QuitScript()}));
    StartWithMailbox();
    ConnectTo(server.Port());
    QSignalSpy quit(&Window(), &TfrmMain::quitRequested);
    Click("butExit");
    EXPECT_EQ(quit.count(), 1);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_FALSE(Engine().connectionInUse);
}

// Disconnect or Exit pressed while a message comes in: QUIT follows once its reply is read,
// never in the middle of it.
class BrowserBusy : public Browser, public ::testing::WithParamInterface<const char*> {};

TEST_P(BrowserBusy, PressedDuringAMessageWaitsForItsReplyThenQuits) {
    const std::string button = GetParam();
    FakeServer server(JoinScripts({Pop3LoginScript("u", 1), SummaryScript(1),
                                   RetrScript(1, "the body\r\n", 400), Pop3QuitScript()}));
    StartWithMailbox();
    QSignalSpy quit(&Window(), &TfrmMain::quitRequested);
    ConnectTo(server.Port());
    ASSERT_TRUE(FetchSummary(1));
    ClickRow(0);
    bool pressedWhileBusy = false;
    QTimer::singleShot(150, [&] {
        pressedWhileBusy = Window().Interactive().Busy();
        Click(QString::fromStdString(button));
    });
    Click("butGetMsg");
    EXPECT_TRUE(pressedWhileBusy);
    EXPECT_TRUE(WaitFor([&] { return !Engine().connectionInUse; }));
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(PaneText().endsWith("\nthe body")) << PaneText().toStdString();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
    EXPECT_EQ(quit.count(), button == "butExit" ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Browser, BrowserBusy, ::testing::Values("butDisconnect", "butExit"),
                         [](const auto& param) { return std::string(param.param); });

TEST_F(Browser, AMessageOfSeveralMegabytesArrivesWholeWhileTheWindowKeepsTurning) {
    std::string body;
    const std::string line(76, 'q');
    for (int i = 0; i < 80000; ++i)
        body += line + std::to_string(i) + "\r\n";
    // Reading and showing it may take a while under a sanitizer: QUIT may come late.
    FakeServer server(JoinScripts({Pop3LoginScript("u", 1), SummaryScript(1), RetrScript(1, body),
                                   Pop3QuitScript()}),
                      60000);
    StartWithMailbox();
    ConnectTo(server.Port());
    ASSERT_TRUE(FetchSummary(1));
    ClickRow(0);
    int turns = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { ++turns; });
    watch.start(5);
    Click("butGetMsg");
    watch.stop();
    // How often depends on the machine's speed; that it turned at all shows it never froze.
    EXPECT_GT(turns, 0);
    const QString shown = PaneText();
    EXPECT_TRUE(shown.startsWith("From: Ann <ann@example.org>\nSubject: first\n\n" +
                                 QString::fromStdString(line) + "0\n"));
    EXPECT_TRUE(shown.endsWith(QString::fromStdString(line) + "79999"));
    EXPECT_EQ(Pane()->document()->blockCount(), 80003);
    Click("butDisconnect");
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

// The Test run button: the session's decisions for the mailbox shown, with nothing deleted
// and no log written; the deciding rule line is highlighted, and the pane can be searched.
TEST_F(Browser, TestRunShowsTheReportAndDeletesNothing) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 2), Pop3MessageScript(1, "id1"),
                                   Pop3MessageScript(2, "id2"), Pop3QuitScript()}));
    StartWithMailbox();
    StoreServer(server);
    const std::string key = MailboxKeyPath("home");
    WriteRegBool(Store(), key, schema::MailboxEnabled, true);
    WriteRegString(Store(), key, schema::Operation, "purge\r\n");
    WriteRegString(Store(), FilterKeyPath("home", "purge"), schema::Rules,
                   "      Subject contains `message 2`\r\n");
    WriteRegString(Store(), FilterKeyPath("home", "purge"), schema::Actions, "Delete message\r\n");
    EXPECT_FALSE(Find<TestRunPane>("pnlTestRun")->isVisible());

    Click("butTestRun");

    // The script has no DELE: a DELE sent would fail it.
    EXPECT_TRUE(server.ScriptCompleted());
    auto* pane = Find<TestRunPane>("pnlTestRun");
    EXPECT_TRUE(pane->isVisible());
    EXPECT_TRUE(pane->Text().contains("message 1, id id1, 120 bytes"));
    EXPECT_TRUE(pane->Text().contains("the message would be deleted at QUIT"));
    EXPECT_EQ(pane->DecidingLines(),
              (QStringList{"=>       rule 1 \"      Subject contains `message 2`\": OR false; "
                           "result false",
                           "=>       rule 1 \"      Subject contains `message 2`\": OR true; "
                           "result true"}));
    EXPECT_FALSE(SessionLogWritten());
    EXPECT_FALSE(home.Exists("home.dat"));
    EXPECT_FALSE(Engine().connectionInUse);
    EXPECT_EQ(Button("butTestRun")->text(), "Test run");

    auto* find = Find<QLineEdit>("edtTestRunFind");
    find->setText("would be deleted");
    EXPECT_TRUE(pane->FindNext());
    EXPECT_EQ(pane->findChild<QPlainTextEdit*>("memoTestRun")->textCursor().selectedText(),
              "would be deleted");
}

TEST_F(Browser, TestRunWaitsWhileTheBrowserHoldsTheConnection) {
    StartWithMailbox();
    Engine().connectionInUse = true;
    Click("butTestRun");
    Engine().connectionInUse = false;
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("The connection is in use"));
    EXPECT_FALSE(Find<TestRunPane>("pnlTestRun")->isVisible());
}

} // namespace
} // namespace zelm::test
