#include "protocols/pop3.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "core/string_helpers.h"
#include "tests/support/fake_server.h"
#include "tests/support/short_limits.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::ScriptStep;
using test::ShortenLimits;
namespace script = test::script;

// The greeting and login every dialogue that logs in starts with.
std::vector<ScriptStep> Login(std::vector<ScriptStep> rest) {
    std::vector<ScriptStep> steps = {
        script::Send("+OK POP3 ready\r\n"),
        script::Expect("USER me\r\n"),
        script::Send("+OK\r\n"),
        script::Expect("PASS secret\r\n"),
        script::Send("+OK logged in\r\n"),
        script::Expect("STAT \r\n"),
    };
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

class Pop3Test : public ::testing::Test {
protected:
    Pop3Test() {
        env.context.currentMailbox = "home";
        ShortenLimits(pop3.connection);
    }

    void Aim(const FakeServer& server) {
        pop3.connection.SetEndpoint("127.0.0.1");
        pop3.connection.SetPort(server.Port());
    }
    void ConnectTo(const FakeServer& server) {
        Aim(server);
        pop3.connection.Connect();
    }

    // Error-log lines without their timestamps and final CR LF.
    std::vector<std::string> ErrorTexts() const {
        std::vector<std::string> texts;
        for (const auto& line : env.ui.errorLines)
            texts.push_back(line.substr(21, line.size() - 23));
        return texts;
    }

    test::TestContext env;
    Pop3Client pop3{env.context};
};

// Pop3Open: one whole login dialogue per row.
struct OpenCase {
    const char* name;
    std::vector<ScriptStep> script;
    bool interactive;
    std::string userId;
    std::string password;
    bool result;
    int total;
    std::vector<std::string> errors;
    std::vector<std::string> dialogs;
    // What the client must have sent, all of it.
    std::string sent;
};

std::vector<OpenCase> OpenCases() {
    const std::string login = "USER me\r\nPASS secret\r\nSTAT \r\n";
    return {
        {"LoggedIn",
         Login({script::Send("+OK 3 4521\r\n")}),
         false,
         "me",
         "secret",
         true,
         3,
         {},
         {},
         login},
        {"GreetingWithAnythingAfterOk",
         {script::Send("+OKAY fine\r\n"), script::Expect("USER me\r\n"), script::Send("+OK\r\n"),
          script::Expect("PASS secret\r\n"), script::Send("+OK\r\n"), script::Expect("STAT \r\n"),
          script::Send("+OK 0 0\r\n")},
         false,
         "me",
         "secret",
         true,
         0,
         {},
         {},
         login},
        {"LowerCaseGreetingRefused",
         {script::Send("+ok hello\r\n")},
         false,
         "me",
         "secret",
         false,
         0,
         {"Pop3 Open: +ok hello\r\n"},
         {},
         ""},
        {"UserRefusedInSession",
         {script::Send("+OK\r\n"), script::Expect("USER me\r\n"), script::Send("-ERR who\r\n")},
         false,
         "me",
         "secret",
         false,
         0,
         {"Pop3 USER: -ERR who\r\n"},
         {},
         "USER me\r\n"},
        {"UserRefusedInteractive",
         {script::Send("+OK\r\n"), script::Expect("USER me\r\n"), script::Send("-ERR who\r\n")},
         true,
         "me",
         "secret",
         false,
         0,
         {},
         {"-ERR who\r\n"},
         "USER me\r\n"},
        {"PassRefused",
         {script::Send("+OK\r\n"), script::Expect("USER me\r\n"), script::Send("+OK\r\n"),
          script::Expect("PASS secret\r\n"), script::Send("-ERR [AUTH] bad\r\n")},
         false,
         "me",
         "secret",
         false,
         0,
         {"Pop3 PASS: -ERR [AUTH] bad\r\n"},
         {},
         "USER me\r\nPASS secret\r\n"},
        {"StatRefusedStillLoggedIn",
         Login({script::Send("-ERR busy\r\n")}),
         false,
         "me",
         "secret",
         true,
         0,
         {"Pop3 STAT: -ERR busy\r\n"},
         {},
         login},
        {"StatCountNotANumber",
         Login({script::Send("+OK many 4521\r\n")}),
         false,
         "me",
         "secret",
         true,
         0,
         {"Pop3 STAT: +OK many 4521\r\n"},
         {},
         login},
        {"StatRefusedInteractive",
         Login({script::Send("-ERR busy\r\n")}),
         true,
         "me",
         "secret",
         true,
         0,
         {},
         {"-ERR busy\r\n"},
         login},
        // A stored value with a line break must not smuggle a second command onto the wire.
        {"UserIdWithLineBreakNotSent",
         {script::Send("+OK\r\n")},
         false,
         "me\r\nDELE 1",
         "secret",
         false,
         0,
         {"Pop3 USER: not sent, the user id holds CR or LF"},
         {},
         ""},
        {"PasswordWithLineBreakNotSent",
         {script::Send("+OK\r\n"), script::Expect("USER me\r\n"), script::Send("+OK\r\n")},
         false,
         "me",
         "sec\nret",
         false,
         0,
         {"Pop3 PASS: not sent, the password holds CR or LF"},
         {},
         "USER me\r\n"},
        {"SilentServer",
         {script::Silent(3000)},
         false,
         "me",
         "secret",
         false,
         0,
         {"Pop3: Unable to read data from Socket", "Pop3 Open: "},
         {},
         ""},
    };
}

// A row's label in CTest and in failures is its name, not a dump of its bytes.
void PrintTo(const OpenCase& row, std::ostream* out) {
    *out << row.name;
}

class Pop3OpenTest : public Pop3Test, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(Pop3OpenTest, Dialogue) {
    const OpenCase& c = GetParam();
    FakeServer server(c.script);
    Aim(server);
    env.context.interactiveMode = c.interactive;
    pop3.messageTotal = 7; // from an earlier mailbox

    EXPECT_EQ(Pop3Open(pop3, c.userId, c.password), c.result);
    EXPECT_EQ(pop3.messageTotal, c.total);
    EXPECT_EQ(ErrorTexts(), c.errors);
    EXPECT_EQ(env.ui.messages, c.dialogs);
    // Every failed step ends interactive use; a good login keeps it.
    const bool clean = c.errors.empty() && c.dialogs.empty();
    EXPECT_EQ(env.context.interactiveMode, c.interactive && clean);
    pop3.connection.Close();
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Received(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(Pop3, Pop3OpenTest, ::testing::ValuesIn(OpenCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Pop3Test, OpenShowsTheMailboxInThePaneAndPanel) {
    FakeServer server(Login({script::Send("+OK 3 4521\r\n")}));
    Aim(server);
    ASSERT_TRUE(Pop3Open(pop3, "me", "secret"));
    EXPECT_EQ(env.ui.browserText, "Mailbox: home\r\nTotal messages: 3\r\nTotal Bytes: 4521\r\n");
    EXPECT_TRUE(env.ui.browserButtons[BrowserButton::GetSummary]);
    EXPECT_EQ(env.ui.panels[1], "Connected to home");
    // A session's connection keeps the browser's Connect disabled.
    EXPECT_FALSE(env.ui.browserButtons.at(BrowserButton::Connect));
    pop3.connection.Close();
    EXPECT_EQ(env.ui.panels[1], "Disconnected");
    EXPECT_FALSE(env.ui.browserConnected);
}

TEST_F(Pop3Test, OpenUnreachableServer) {
    pop3.connection.SetEndpoint("127.0.0.1");
    pop3.connection.SetPort(test::ClosedLoopbackPort());
    EXPECT_FALSE(Pop3Open(pop3, "me", "secret"));
    EXPECT_EQ(ErrorTexts(), std::vector<std::string>{"Pop3 Open: Could not connect to home"});

    env.context.interactiveMode = true;
    EXPECT_FALSE(Pop3Open(pop3, "me", "secret"));
    EXPECT_EQ(env.ui.messages, std::vector<std::string>{"Could not connect to home"});
    EXPECT_FALSE(env.context.interactiveMode);
    EXPECT_FALSE(pop3.connection.Active());
}

// The single-line operations: one command and its reply per row.
struct CommandCase {
    const char* name;
    std::vector<ScriptStep> script;
    std::function<bool(Pop3Client&)> operation;
    bool interactive;
    bool result;
    std::vector<std::string> errors;
    std::vector<std::string> dialogs;
    std::function<void(const Pop3Client&)> check;
};

std::vector<CommandCase> CommandCases() {
    const auto uidl = [](Pop3Client& p) { return Pop3Uidl(p, 2); };
    const auto list = [](Pop3Client& p) { return Pop3List(p, 2); };
    const auto dele = [](Pop3Client& p) { return Pop3Dele(p, 12); };
    const auto rset = [](Pop3Client& p) { return Pop3Rset(p); };
    const auto uid = [](const char* expected) {
        return [expected](const Pop3Client& p) { EXPECT_EQ(p.messageUid, expected); };
    };
    const auto size = [](int expected) {
        return [expected](const Pop3Client& p) { EXPECT_EQ(p.messageSize, expected); };
    };
    const auto nothing = [](const Pop3Client&) {};
    return {
        {"UidlGivesTheId",
         {script::Expect("UIDL 2\r\n"), script::Send("+OK 2 abc123\r\n")},
         uidl,
         false,
         true,
         {},
         {},
         uid("abc123")},
        {"UidlRefusedClearsTheId",
         {script::Expect("UIDL 2\r\n"), script::Send("-ERR no such message\r\n")},
         uidl,
         false,
         false,
         {"Pop3 UID: -ERR no such message\r\n"},
         {},
         uid("")},
        {"UidlRefusedGoesToTheLogEvenInteractive",
         {script::Expect("UIDL 2\r\n"), script::Send("-ERR\r\n")},
         uidl,
         true,
         false,
         {"Pop3 UID: -ERR\r\n"},
         {},
         uid("")},
        {"ListGivesTheSize",
         {script::Expect("LIST 2\r\n"), script::Send("+OK 2 1200\r\n")},
         list,
         false,
         true,
         {},
         {},
         size(1200)},
        {"ListSizeNotANumber",
         {script::Expect("LIST 2\r\n"), script::Send("+OK 2 big\r\n")},
         list,
         false,
         true,
         {},
         {},
         size(0)},
        {"ListRefusedKeepsTheEarlierSize",
         {script::Expect("LIST 2\r\n"), script::Send("-ERR no\r\n")},
         list,
         false,
         false,
         {"Pop3 List: -ERR no\r\n"},
         {},
         size(55)},
        {"DeleAccepted",
         {script::Expect("DELE 12\r\n"), script::Send("+OK marked\r\n")},
         dele,
         false,
         true,
         {},
         {},
         nothing},
        {"DeleRefusedInSession",
         {script::Expect("DELE 12\r\n"), script::Send("-ERR gone\r\n")},
         dele,
         false,
         false,
         {"Pop3 DEL: -ERR gone\r\n"},
         {},
         nothing},
        {"DeleRefusedInteractive",
         {script::Expect("DELE 12\r\n"), script::Send("-ERR gone\r\n")},
         dele,
         true,
         false,
         {},
         {"-ERR gone\r\n"},
         nothing},
        {"RsetRefusedGoesToTheLogEvenInteractive",
         {script::Expect("RSET\r\n"), script::Send("-ERR\r\n")},
         rset,
         true,
         false,
         {"Pop3 RSET: -ERR\r\n"},
         {},
         nothing},
        // The `Pop3` error handler swallows a broken connection: the operation fails as if
        // refused and the connection is closed.
        {"ResetDuringDeleIsAFailedStep",
         {script::Expect("DELE 12\r\n"), script::Reset()},
         dele,
         false,
         false,
         {"Pop3: Reading failed: Connection reset by peer", "Pop3 DEL: "},
         {},
         nothing},
    };
}

// A row's label in CTest and in failures is its name, not a dump of its bytes.
void PrintTo(const CommandCase& row, std::ostream* out) {
    *out << row.name;
}

class Pop3CommandTest : public Pop3Test, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(Pop3CommandTest, Dialogue) {
    const CommandCase& c = GetParam();
    FakeServer server(c.script);
    ConnectTo(server);
    env.context.interactiveMode = c.interactive;
    pop3.messageUid = "old";
    pop3.messageSize = 55;

    EXPECT_EQ(c.operation(pop3), c.result);
    EXPECT_EQ(ErrorTexts(), c.errors);
    EXPECT_EQ(env.ui.messages, c.dialogs);
    c.check(pop3);
    pop3.connection.Close();
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

INSTANTIATE_TEST_SUITE_P(Pop3, Pop3CommandTest, ::testing::ValuesIn(CommandCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Pop3Test, BrokenConnectionShowsDisconnected) {
    FakeServer server({script::Expect("DELE 1\r\n"), script::Close()});
    ConnectTo(server);
    EXPECT_FALSE(Pop3Dele(pop3, 1));
    EXPECT_FALSE(pop3.connection.Active());
    EXPECT_EQ(env.ui.panels[1], "Disconnected");
    server.Finish();
}

TEST_F(Pop3Test, QuitOutsideASessionClearsConnectionInUse) {
    for (const char* reply : {"+OK bye\r\n", "-ERR not now\r\n"}) {
        SCOPED_TRACE(reply);
        FakeServer server({script::Expect("QUIT\r\n"), script::Send(reply), script::ExpectClose()});
        ConnectTo(server);
        env.context.connectionInUse = true;
        env.context.interactiveMode = true;
        EXPECT_EQ(Pop3Quit(pop3), reply[0] == '+');
        EXPECT_FALSE(pop3.connection.Active());
        EXPECT_FALSE(env.context.connectionInUse);
        EXPECT_EQ(env.ui.panels[1], "Disconnected");
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
    EXPECT_EQ(env.ui.messages, std::vector<std::string>{"-ERR not now\r\n"});
}

TEST_F(Pop3Test, QuitDuringASessionKeepsConnectionInUse) {
    FakeServer server({script::Expect("QUIT\r\n"), script::Send("-ERR no\r\n")});
    ConnectTo(server);
    env.context.log.OpenSessionLogs();
    env.context.connectionInUse = true;
    EXPECT_FALSE(Pop3Quit(pop3));
    EXPECT_FALSE(pop3.connection.Active());
    EXPECT_TRUE(env.context.connectionInUse);
    EXPECT_EQ(ErrorTexts(), std::vector<std::string>{"Pop3 QUIT: -ERR no\r\n"});
    env.context.log.CloseSessionLogs();
    server.Finish();
}

TEST_F(Pop3Test, TopFillsHeaderLinesAndCallsTheParser) {
    FakeServer server({script::Expect("TOP 2 0\r\n"),
                       script::SendSegments(
                           {"+OK\r\nFrom: a@b\r\n..Dots: kept\r\n", "Subject: s\r\n\r\n.\r\n"})});
    ConnectTo(server);
    pop3.messageTotal = 3;
    std::vector<std::vector<std::string>> parsed;
    pop3.headerParser = [&](const std::vector<std::string>& lines) {
        parsed.push_back(lines);
        return parsed.size() >= 3; // asks to be called again twice
    };
    const int pumpsBefore = env.ui.pumpCount;

    ASSERT_TRUE(Pop3Top(pop3, 2));
    const std::vector<std::string> header = {"From: a@b", "..Dots: kept", "Subject: s", ""};
    EXPECT_EQ(pop3.headerLines, header);
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[0], header);
    EXPECT_GE(env.ui.pumpCount - pumpsBefore, 2);
    EXPECT_EQ(env.ui.panels[1], "Connected to home (msg 2 of 3 )");
    EXPECT_TRUE(env.ui.browserButtons[BrowserButton::GetMessage]);
    EXPECT_EQ(env.ui.headerTimerArmings, 0); // not interactive
    server.Finish();
}

TEST_F(Pop3Test, TopReplyLinesSplitAsAStoredListIs) {
    // A header line keeps whatever a stored list would keep: a lone CR or LF also ends a line.
    const std::string replies[] = {
        "+OK\r\nA: 1\r\nB: 2\r\n\r\n.\r\n",
        "+OK\r\nA: 1\rB: 2\nC: 3\n\rD\r\n.\r\n",
        "+OK\r\n\r\n\r\n.\r\n",
        "+OK\r\nA: no end",
        "+OK\r\n.\r\n",
        "+OK",
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        auto expected = SplitListValue(reply);
        expected.erase(expected.begin());
        if (!expected.empty()) expected.pop_back();
        ASSERT_TRUE(Pop3TopReply(pop3, 1, reply));
        EXPECT_EQ(pop3.headerLines, expected);
    }
}

TEST_F(Pop3Test, PipelinedTopsRefillTheWindowOnceHalfIsAnswered) {
    // Window 4: four commands go out, then two more each time two replies have come, so the
    // server never has more than four to answer and never runs out.
    const auto top = [](int n) { return "TOP " + std::to_string(n) + " 0\r\n"; };
    const auto reply = [](int n) { return "+OK\r\nSubject: " + std::to_string(n) + "\r\n.\r\n"; };
    FakeServer server({script::Expect(top(1) + top(2) + top(3) + top(4)),
                       script::Send(reply(1) + reply(2)), script::Expect(top(5) + top(6)),
                       script::Send(reply(3) + reply(4)), script::Expect(top(7)),
                       script::Send(reply(5) + reply(6) + reply(7))});
    ConnectTo(server);
    std::vector<std::string> sends;
    pop3.connection.Calls().send = [&sends](int fd, const void* data, std::size_t size, int flags) {
        const ssize_t sent = ::send(fd, data, size, flags);
        if (sent > 0) sends.emplace_back(static_cast<const char*>(data), sent);
        return sent;
    };

    const auto replies = Pop3TopPipelined(pop3, {1, 2, 3, 4, 5, 6, 7}, 4);
    const std::vector<std::string> expectedSends = {top(1) + top(2) + top(3) + top(4),
                                                    top(5) + top(6), top(7)};
    EXPECT_EQ(sends, expectedSends);
    ASSERT_EQ(replies.size(), 7u);
    for (int n = 1; n <= 7; ++n)
        EXPECT_EQ(replies[n - 1], reply(n));
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST_F(Pop3Test, TopInTheBrowserArmsTheHeaderTimerWhileHeadersRemain) {
    struct Case {
        int next;
        int total;
        bool armed;
    };
    for (const Case c : {Case{3, 3, true}, Case{4, 3, false}, Case{1, 0, false}}) {
        SCOPED_TRACE(c.next);
        FakeServer server({script::Expect("TOP 1 0\r\n"), script::Send("+OK\r\nX: y\r\n.\r\n")});
        ConnectTo(server);
        env.context.interactiveMode = true;
        env.ui.headerTimerArmings = 0;
        pop3.nextHeaderIndex = c.next;
        pop3.messageTotal = c.total;
        ASSERT_TRUE(Pop3Top(pop3, 1));
        EXPECT_EQ(env.ui.headerTimerArmings, c.armed ? 1 : 0);
        pop3.connection.Close();
        server.Finish();
    }
}

TEST_F(Pop3Test, TopRefusedLeavesNoHeaderAndButtonsDisabled) {
    FakeServer server({script::Expect("TOP 4 0\r\n"), script::Send("-ERR no such message\r\n")});
    ConnectTo(server);
    pop3.headerLines = {"From: earlier@message"};
    bool parserCalled = false;
    pop3.headerParser = [&](const std::vector<std::string>&) { return parserCalled = true; };
    EXPECT_FALSE(Pop3Top(pop3, 4));
    EXPECT_TRUE(pop3.headerLines.empty());
    EXPECT_FALSE(parserCalled);
    EXPECT_EQ(ErrorTexts(), std::vector<std::string>{"Pop3 TOP: \r\n-ERR no such message\r\n"});
    EXPECT_FALSE(env.ui.browserButtons[BrowserButton::GetMessage]);
    EXPECT_FALSE(env.ui.browserButtons[BrowserButton::DeleteMessage]);
    EXPECT_TRUE(pop3.connection.Active());
    server.Finish();
}

TEST_F(Pop3Test, RetrUnstuffsWritesZelmDatAndKeepsTheBody) {
    FakeServer server({script::Expect("RETR 1\r\n"),
                       script::SendSegments({"+OK 60 octets\r\nFrom: a@b\r\n..Hdr: x\r\n\r\n",
                                             "..dot line\r\n...two\r\nbody.\r\n.\r\n"})});
    ConnectTo(server);
    ASSERT_TRUE(Pop3Retr(pop3, 1));
    EXPECT_EQ(env.home.Read("zelm.dat"),
              "From: a@b\r\n.Hdr: x\r\n\r\n.dot line\r\n..two\r\nbody.\r\n");
    EXPECT_EQ(pop3.messageBody.Lines(), (std::vector<std::string>{".dot line", "..two", "body."}));
    EXPECT_TRUE(pop3.messageRetrieved);
    EXPECT_EQ(env.ui.panelHistory[2], (std::vector<std::string>{"Retrieving 1", ""}));
    EXPECT_TRUE(env.ui.browserButtons[BrowserButton::GetSummary]);
    server.Finish();
}

TEST_F(Pop3Test, RetrWithoutEmptyLineHasAnEmptyBody) {
    FakeServer server(
        {script::Expect("RETR 1\r\n"), script::Send("+OK\r\nFrom: a@b\r\nSubject: s\r\n.\r\n")});
    ConnectTo(server);
    pop3.messageBody = MessageText::FromLines({"earlier"});
    ASSERT_TRUE(Pop3Retr(pop3, 1));
    EXPECT_TRUE(pop3.messageBody.empty());
    EXPECT_EQ(env.home.Read("zelm.dat"), "From: a@b\r\nSubject: s\r\n");
    server.Finish();
}

TEST_F(Pop3Test, RetrRefusedOrCutOffLeavesZelmDatAlone) {
    struct Case {
        const char* name;
        std::vector<ScriptStep> script;
        std::vector<std::string> errors;
    };
    const Case cases[] = {
        {"refused",
         {script::Expect("RETR 5\r\n"), script::Send("-ERR message 5 deleted\r\n")},
         {"MSG RETR: \r\n-ERR message 5 deleted"}},
        {"cut off",
         {script::Expect("RETR 5\r\n"), script::Send("+OK\r\nFrom: a@b\r\n\r\nhalf"),
          script::Close()},
         {"Pop3: Unable to read data from Socket", "MSG RETR: \r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        env.home.Write("zelm.dat", "earlier message\r\n");
        env.ui.errorLines.clear();
        FakeServer server(c.script);
        ConnectTo(server);
        EXPECT_FALSE(Pop3Retr(pop3, 5));
        EXPECT_FALSE(pop3.messageRetrieved);
        EXPECT_TRUE(pop3.messageBody.empty());
        EXPECT_EQ(env.home.Read("zelm.dat"), "earlier message\r\n");
        EXPECT_EQ(ErrorTexts(), c.errors);
        EXPECT_EQ(env.ui.panels[2], "");
        pop3.connection.Close();
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
}

TEST_F(Pop3Test, RetrThatCannotWriteZelmDatThrows) {
    std::filesystem::create_directory(env.home.File("zelm.dat"));
    FakeServer server(
        {script::Expect("RETR 1\r\n"), script::Send("+OK\r\nA: b\r\n\r\nc\r\n.\r\n")});
    ConnectTo(server);
    EXPECT_THROW(Pop3Retr(pop3, 1), ZelmError);
    EXPECT_FALSE(pop3.messageRetrieved);
    server.Finish();
}

TEST_F(Pop3Test, ErrorLinesOutsideASessionReachErrorLog) {
    FakeServer server({script::Expect("RSET\r\n"), script::Send("-ERR no\r\n")});
    ConnectTo(server);
    env.context.interactiveMode = true;
    EXPECT_FALSE(Pop3Rset(pop3));
    const std::string log = env.home.Read("error.log");
    ASSERT_EQ(log.size(), 21u + std::string("Pop3 RSET: -ERR no\r\n\r\n").size());
    EXPECT_EQ(log.substr(21), "Pop3 RSET: -ERR no\r\n\r\n");
    server.Finish();
}

} // namespace
} // namespace zelm
