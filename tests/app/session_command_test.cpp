#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/config_store.h"
#include "core/home_folder.h"
#include "core/schema.h"
#include "tests/app/zelm_process.h"
#include "tests/support/fake_server.h"
#include "tests/support/test_home.h"

// The real `zelm session` binary as a user or a cron job runs it.
namespace zelm {
namespace {

using test::FakeServer;
using test::WaitFor;
using test::Zelm;
namespace script = test::script;

std::string TodaysLogName() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::string(days[local.tm_wday]) + ".log";
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class SessionCommandTest : public ::testing::Test {
protected:
    /// An enabled mailbox on loopback with the password "pw".
    void AddMailbox(const std::string& name, int port) {
        SettingsDb db(home.File(SettingsFileName));
        const std::string key = MailboxKeyPath(name);
        WriteRegBool(db, key, schema::MailboxEnabled, true);
        WriteRegString(db, key, schema::Host, "127.0.0.1");
        WriteRegString(db, key, schema::Port, std::to_string(port));
        WriteRegString(db, key, schema::UserID, "user");
        WriteRegString(db, key, schema::Password, ScramblePassword("pw"));
    }
    std::vector<std::string> Session(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--home", home.Path(), "session"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::string SessionLog() const { return home.Read(TodaysLogName()); }

    test::TempHome home;
};

std::vector<test::ScriptStep> OneMessageMailbox(const std::string& passReply) {
    std::vector<test::ScriptStep> steps = {script::Send("+OK ready\r\n"),
                                           script::Expect("USER user\r\n"), script::Send("+OK\r\n"),
                                           script::Expect("PASS pw\r\n"), script::Send(passReply)};
    if (passReply.rfind("+OK", 0) == 0) {
        steps.insert(steps.end(),
                     {script::Expect("STAT \r\n"), script::Send("+OK 1 100\r\n"),
                      script::Expect("UIDL 1\r\n"), script::Send("+OK 1 u-1\r\n"),
                      script::Expect("LIST 1\r\n"), script::Send("+OK 1 100\r\n"),
                      script::Expect("TOP 1 0\r\n"),
                      script::Send("+OK\r\nFrom: a@example.com\r\nSubject: hi\r\n\r\n.\r\n")});
    }
    steps.insert(steps.end(), {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")});
    return steps;
}

TEST_F(SessionCommandTest, VerboseEchoesEveryLogLineExactlyAsWritten) {
    FakeServer good(OneMessageMailbox("+OK\r\n"));
    FakeServer refusing(OneMessageMailbox("-ERR wrong password\r\n"));
    AddMailbox("a", good.Port());
    AddMailbox("b", refusing.Port());

    Zelm zelm(Session({"--verbose"}));
    ASSERT_EQ(zelm.Finish(), 0) << zelm.err;

    EXPECT_TRUE(good.Finish()) << good.Failure();
    EXPECT_TRUE(refusing.Finish()) << refusing.Failure();
    const std::string sessionLog = SessionLog();
    const std::string errorLog = home.Read("error.log");
    ASSERT_NE(errorLog.find("Pop3 PASS: -ERR wrong password\r\n"), std::string::npos);
    // stdout is both logs interleaved in the order of writing: the error line sits right
    // before b's summary.
    const std::size_t summaryB = sessionLog.find("Summary(b)");
    ASSERT_NE(summaryB, std::string::npos);
    const std::size_t lineStart = summaryB - 21;
    EXPECT_EQ(zelm.out, sessionLog.substr(0, lineStart) + errorLog + sessionLog.substr(lineStart));
    EXPECT_EQ(zelm.err, "");
}

TEST_F(SessionCommandTest, WithoutVerboseNothingGoesToStdout) {
    FakeServer good(OneMessageMailbox("+OK\r\n"));
    AddMailbox("a", good.Port());

    Zelm zelm(Session());
    ASSERT_EQ(zelm.Finish(), 0) << zelm.err;

    EXPECT_EQ(zelm.out, "");
    EXPECT_EQ(zelm.err, "");
    EXPECT_NE(SessionLog().find(" Msg: a@example.com(hi)\r\n"), std::string::npos);
}

TEST_F(SessionCommandTest, VerboseReaderGoingAwayDoesNotCutTheSessionShort) {
    FakeServer good(OneMessageMailbox("+OK\r\n"));
    AddMailbox("a", good.Port());

    Zelm zelm(Session({"--verbose"}));
    zelm.CloseStdout();

    EXPECT_EQ(zelm.Finish(), 0) << zelm.err;
    EXPECT_TRUE(good.Finish()) << good.Failure();
    const std::string log = SessionLog();
    EXPECT_NE(log.find("Summary(a): Tot:1 New:1 "), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 13), "Session End\r\n");
    EXPECT_NE(home.Read("a.dat").find("u-1"), std::string::npos);
}

TEST_F(SessionCommandTest, SecondCopyOnTheSameHomeIsRefused) {
    const InstanceLock held(home.Path());
    ASSERT_TRUE(held.Held());

    Zelm zelm(Session({"--verbose"}));

    EXPECT_EQ(zelm.Finish(), 1);
    EXPECT_EQ(zelm.err, "zelm is already running.\n");
    EXPECT_EQ(zelm.out, "");
    EXPECT_FALSE(home.Exists(TodaysLogName()));
}

TEST_F(SessionCommandTest, LogsThatCannotBeOpenedRefuseTheSession) {
    ASSERT_EQ(::mkdir(home.File("error.log").c_str(), 0700), 0);

    Zelm zelm(Session({"--verbose"}));

    EXPECT_EQ(zelm.Finish(), 1);
    EXPECT_NE(zelm.err, "");
    EXPECT_EQ(zelm.out, "");
}

// A test run writes nothing, so it takes no lock and may run beside the window.
TEST_F(SessionCommandTest, DryRunRunsBesideTheWindowAndPrintsTextOrJsonLines) {
    const InstanceLock held(home.Path());
    ASSERT_TRUE(held.Held());
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        FakeServer server(OneMessageMailbox("+OK\r\n"));
        AddMailbox("home", server.Port());
        std::vector<std::string> extra = {"--dry-run", "--mailbox", "HOME"};
        if (json) extra.push_back("--json");

        Zelm zelm(Session(extra));

        EXPECT_EQ(zelm.Finish(), 0) << zelm.err;
        EXPECT_TRUE(server.ScriptCompleted());
        if (json) {
            EXPECT_EQ(Count(zelm.out, "\n"), 2U) << zelm.out;
            EXPECT_EQ(zelm.out.rfind("{\"type\":\"message\",\"mailbox\":\"home\",\"number\":1,"
                                     "\"uid\":\"u-1\",\"from\":\"a@example.com\",\"subject\":"
                                     "\"hi\",\"size\":100,\"decision\":\"filtered\"",
                                     0),
                      0U)
                << zelm.out;
            EXPECT_NE(zelm.out.find("\n{\"type\":\"mailbox\",\"mailbox\":\"home\""),
                      std::string::npos);
        } else {
            EXPECT_NE(zelm.out.find("message 1, id u-1, 100 bytes"), std::string::npos) << zelm.out;
            EXPECT_NE(zelm.out.find("no filter in the mailbox's filter order"), std::string::npos);
        }
        EXPECT_FALSE(home.Exists(TodaysLogName()));
        EXPECT_FALSE(home.Exists("error.log"));
        EXPECT_FALSE(home.Exists("home.dat"));
    }
}

TEST_F(SessionCommandTest, DryRunOfAMailboxThatDoesNotExistFails) {
    Zelm zelm(Session({"--dry-run", "--mailbox", "nowhere"}));
    EXPECT_EQ(zelm.Finish(), 1);
    EXPECT_EQ(zelm.err, "zelm: session: no mailbox named 'nowhere'\n");
    EXPECT_EQ(zelm.out, "");
}

TEST_F(SessionCommandTest, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {{"--repeat"},
                                                         {"--repeat", "soon"},
                                                         {"--repeat", "0"},
                                                         {"--repeat", "-5"},
                                                         {"--quiet"},
                                                         {"extra"},
                                                         // The test run's options.
                                                         {"--json"},
                                                         {"--mailbox", "home"},
                                                         {"--dry-run", "--limit", "0"},
                                                         {"--dry-run", "--mailbox"},
                                                         {"--dry-run", "--repeat", "5"}};
    for (const auto& extra : cases) {
        SCOPED_TRACE(extra.back());
        Zelm zelm(Session(extra));
        EXPECT_EQ(zelm.Finish(), 2);
        EXPECT_NE(zelm.err, "");
        EXPECT_FALSE(home.Exists(TodaysLogName()));
    }
}

TEST_F(SessionCommandTest, SigtermFinishesTheMessageAndEndsTheSession) {
    FakeServer server(
        {script::Send("+OK ready\r\n"), script::Expect("USER user\r\n"), script::Send("+OK\r\n"),
         script::Expect("PASS pw\r\n"), script::Send("+OK\r\n"), script::Expect("STAT \r\n"),
         script::Send("+OK 3 300\r\n"), script::Expect("UIDL 1\r\n"), script::Send("+OK 1 u-1\r\n"),
         script::Expect("LIST 1\r\n"), script::Send("+OK 1 100\r\n"), script::Expect("TOP 1 0\r\n"),
         // The signal arrives while the header is awaited.
         script::Wait(400), script::Send("+OK\r\nFrom: a@example.com\r\nSubject: hi\r\n\r\n.\r\n"),
         script::Expect("QUIT\r\n"), script::Send("+OK\r\n")});
    AddMailbox("a", server.Port());
    AddMailbox("b", test::ClosedLoopbackPort());

    Zelm zelm(Session());
    ASSERT_TRUE(
        WaitFor([&] { return server.Received().find("TOP 1 0\r\n") != std::string::npos; }));
    zelm.Signal(SIGTERM);

    EXPECT_EQ(zelm.Finish(), 0) << zelm.err;
    EXPECT_TRUE(server.Finish()) << server.Failure();
    const std::string log = SessionLog();
    EXPECT_NE(log.find(" Msg: a@example.com(hi)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Summary(a): Tot:1 New:1 Big:0 Acc:0 Rej:0 Flt:0\r\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("(b)"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 13), "Session End\r\n");
    EXPECT_EQ(home.Read("error.log"), "");
}

TEST_F(SessionCommandTest, RepeatRunsSessionsUntilSignalled) {
    Zelm zelm(Session({"--repeat", "1"}));
    ASSERT_TRUE(WaitFor([&] { return Count(SessionLog(), "Session End") >= 2; }));
    zelm.Signal(SIGINT);

    EXPECT_EQ(zelm.Finish(5000), 0) << zelm.err;
    const std::string log = SessionLog();
    EXPECT_EQ(Count(log, "Session Start"), Count(log, "Session End"));
    EXPECT_EQ(zelm.out, "");
}

} // namespace
} // namespace zelm
