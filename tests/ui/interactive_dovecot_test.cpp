// The Interactive page against the real Dovecot that scripts/test starts on loopback. Users u09
// to u11 belong to these tests.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <QSignalSpy>

#include "tests/support/real_servers.h"
#include "tests/ui/browser_fixture.h"

namespace zelm::test {
namespace {

std::string Message(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\n\r\n" + body;
}

class DovecotBrowser : public BrowserFixture {
protected:
    explicit DovecotBrowser(const char* user) : mailbox(user) { mailbox.Clear(); }
    ~DovecotBrowser() override { mailbox.Clear(); }

    void Connect() {
        ConnectTo(RealPop3Port(), QString::fromStdString(mailbox.User()), kRealPassword);
    }

    /// The messages "first" and "second" in the mailbox, connected and listed.
    void ListTwoMessages() {
        mailbox.Drop(Message("ann@example.org", "first", "x\r\n"));
        mailbox.Drop(Message("bob@example.org", "second", "y\r\n"));
        StartWithMailbox();
        Connect();
        ASSERT_TRUE(FetchSummary(2));
    }

    /// The subjects of the messages the maildir still holds.
    std::multiset<std::string> SubjectsLeft() const {
        std::multiset<std::string> subjects;
        for (const char* folder : {"new", "cur"}) {
            const auto dir =
                std::filesystem::path(RealMailRoot()) / mailbox.User() / "Maildir" / folder;
            for (const auto& entry : std::filesystem::directory_iterator(dir)) {
                std::ifstream in(entry.path());
                std::stringstream text;
                text << in.rdbuf();
                const std::string content = text.str();
                const auto at = content.find("Subject: ");
                subjects.insert(content.substr(at + 9, content.find('\r', at) - at - 9));
            }
        }
        return subjects;
    }

    RealMailbox mailbox;
};

class DovecotBrowserU09 : public DovecotBrowser {
protected:
    DovecotBrowserU09() : DovecotBrowser("u09") {}
};

TEST_F(DovecotBrowserU09, ThreeMessagesGiveThreeRowsAndTheSecondReadsWhole) {
    const std::string second =
        Message("Bob <bob@example.org>", "second", "line\r\n.starts with a dot\r\n");
    mailbox.Drop(Message("ann@example.org", "first", "hello\r\n"));
    mailbox.Drop(second);
    mailbox.Drop(Message("cy@example.org", "third", "bye\r\n"));
    StartWithMailbox();
    Connect();
    EXPECT_TRUE(PaneText().startsWith("Mailbox: home\nTotal messages: 3\nTotal Bytes: "));
    ASSERT_TRUE(FetchSummary(3));
    EXPECT_EQ(Status(), "3 headers retrieved");
    EXPECT_EQ(Cell(0, 0), "ann@example.org");
    EXPECT_EQ(Cell(1, 0), "Bob <bob@example.org>");
    EXPECT_EQ(Cell(1, 1), "second");
    EXPECT_EQ(Cell(1, 2), QString::number(second.size()));
    EXPECT_EQ(Cell(2, 1), "third");

    ClickRow(1);
    EXPECT_EQ(Status(), "Message 2 of 3");
    EXPECT_EQ(PaneText(), "From: Bob <bob@example.org>\nSubject: second\n");
    Click("butGetMsg");
    // Dovecot stuffs the line that starts with a dot; the pane shows it as stored.
    EXPECT_EQ(PaneText(),
              "From: Bob <bob@example.org>\nSubject: second\n\nline\n.starts with a dot");

    Click("butDisconnect");
    EXPECT_EQ(Status(), "Disconnected");
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
    EXPECT_EQ(mailbox.Count(), 3u);
}

class DovecotBrowserU10 : public DovecotBrowser {
protected:
    DovecotBrowserU10() : DovecotBrowser("u10") {}
};

TEST_F(DovecotBrowserU10, ResetUndoesAMarkAndDisconnectCommitsTheRest) {
    ListTwoMessages();
    ClickRow(0);
    Click("butDelMsg");
    Click("butReset");
    ClickRow(1);
    Click("butDelMsg");
    Click("butDisconnect");
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
    EXPECT_EQ(SubjectsLeft(), std::multiset<std::string>{"first"});
}

class DovecotBrowserU11 : public DovecotBrowser {
protected:
    DovecotBrowserU11() : DovecotBrowser("u11") {}
};

TEST_F(DovecotBrowserU11, ExitWhileConnectedCommitsTheMarkedDeletion) {
    ListTwoMessages();
    ClickRow(0);
    Click("butDelMsg");
    QSignalSpy quit(&Window(), &TfrmMain::quitRequested);
    Click("butExit");
    EXPECT_EQ(quit.count(), 1);
    EXPECT_EQ(SubjectsLeft(), std::multiset<std::string>{"second"});
}

} // namespace
} // namespace zelm::test
