#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "session/session_driver.h"
#include "tests/session/session_fixture.h"

// The fast listing must change only how ids, sizes and headers are fetched: every case runs
// the same mailbox once with the per-message dialogue and once with the option, and the two
// session logs and data files must be equal. Fake servers (no PIPELINING, refusals, broken
// listings, a close in the middle of a burst) and the real Dovecot (user u44, which lists
// PIPELINING).
namespace zelm {
namespace {

using test::FakeServer;
using test::Join;
using test::Login;
using test::RealMailbox;
using test::ScriptStep;
namespace script = test::script;

using Steps = std::vector<ScriptStep>;

Steps Uidl(int n, const std::string& uid) {
    const std::string number = std::to_string(n);
    return {script::Expect("UIDL " + number + "\r\n"),
            script::Send("+OK " + number + " " + uid + "\r\n")};
}
Steps List(int n, int size) {
    const std::string number = std::to_string(n);
    return {script::Expect("LIST " + number + "\r\n"),
            script::Send("+OK " + number + " " + std::to_string(size) + "\r\n")};
}
std::string TopReply(const std::string& subject) {
    return "+OK\r\nFrom: f@example.com\r\nSubject: " + subject + "\r\n\r\n.\r\n";
}
Steps Top(int n, const std::string& subject) {
    return {script::Expect("TOP " + std::to_string(n) + " 0\r\n"), script::Send(TopReply(subject))};
}
Steps Dele(int n) {
    return {script::Expect("DELE " + std::to_string(n) + "\r\n"), script::Send("+OK\r\n")};
}
Steps Quit() {
    return {script::Expect("QUIT\r\n"), script::Send("+OK bye\r\n")};
}
Steps Capa(bool pipelining) {
    return {script::Expect("CAPA\r\n"),
            script::Send(std::string("+OK\r\nTOP\r\nUIDL\r\n") +
                         (pipelining ? "PIPELINING\r\n" : "") + ".\r\n")};
}
Steps Bulk(const std::string& command, const std::string& lines) {
    return {script::Expect(command + "\r\n"), script::Send("+OK\r\n" + lines + ".\r\n")};
}

// The mailbox every fake case serves: 1 "a" is in the Cache, 2 "b" is new, 3 "c" is above the
// size limit, 4 "d" is new and deleted by a filter.
const std::string kUidLines = "1 a\r\n2 b\r\n3 c\r\n4 d\r\n";
const std::string kSizeLines = "1 120\r\n2 120\r\n3 5000\r\n4 120\r\n";

// The per-message dialogue over that mailbox, from the first UIDL to the QUIT.
Steps PerMessage() {
    return Join({Uidl(1, "a"), Uidl(2, "b"), List(2, 120), Top(2, "keep"), Uidl(3, "c"),
                 List(3, 5000), Uidl(4, "d"), List(4, 120), Top(4, "drop"), Dele(4), Quit()});
}

struct SessionRun {
    std::vector<std::string> sessionTexts;
    std::vector<std::string> errorTexts;
    std::string dataFile;
    std::string received;
};

class FastListingTest : public test::SessionFixture {
protected:
    void SetUp() override {
        ShortLimits();
        // A filter that deletes what it matches, so actions after the header take part.
        WriteRegString(t.db, FilterKeyPath("home", "drop"), schema::Rules,
                       "      Subject contains `drop`\r\n");
        WriteRegString(t.db, FilterKeyPath("home", "drop"), schema::Actions, "Delete message\r\n");
        // Records every send, to see the commands that went out together.
        pop3.connection.Calls().send = [this](int fd, const void* data, std::size_t size,
                                              int flags) {
            const ssize_t sent = ::send(fd, data, size, flags);
            if (sent > 0) sends.emplace_back(static_cast<const char*>(data), sent);
            return sent;
        };
    }

    // One session over the fake mailbox, starting from a data file whose Cache holds "a".
    SessionRun RunOnce(bool fast, Steps afterLogin, int total = 4) {
        FakeServer server(Join({Login("u", total), std::move(afterLogin)}), 1500);
        AddMailbox("home", "u", server.Port());
        Set("home", schema::Operation, "drop\r\n");
        WriteRegBool(t.db, MailboxKeyPath("home"), schema::LimitMessageSizeEnabled, true);
        Set("home", schema::LimitSize, "1000");
        WriteRegBool(t.db, SettingsRoot, schema::FastListing, fast);
        const std::string dataFile = DataFilePath(t.home.Path(), "home");
        WriteSection(dataFile, kSectionCache, {"a"});
        t.ui.sessionLines.clear();
        t.ui.errorLines.clear();
        sends.clear();

        EXPECT_EQ(RunSession(session), SessionOutcome::Ran);
        EXPECT_TRUE(server.Finish()) << server.Failure();
        return {SessionTexts(), ErrorTexts(), t.home.Read("home.dat"), server.Received()};
    }

    // The per-message session and the fast one give the same log and data file.
    SessionRun ExpectSameAsPerMessage(Steps perMessage, Steps fast, int total = 4) {
        const SessionRun plain = RunOnce(false, std::move(perMessage), total);
        const SessionRun quick = RunOnce(true, std::move(fast), total);
        EXPECT_EQ(quick.sessionTexts, plain.sessionTexts);
        EXPECT_EQ(quick.dataFile, plain.dataFile);
        return quick;
    }

    bool SentTogether(const std::string& commands) const {
        for (const std::string& sent : sends) {
            if (sent == commands) return true;
        }
        return false;
    }

    std::vector<std::string> sends;
};

TEST_F(FastListingTest, WithoutPipeliningHeadersAreReadOneAtATime) {
    const SessionRun run = ExpectSameAsPerMessage(
        PerMessage(), Join({Capa(false), Bulk("UIDL", kUidLines), Bulk("LIST", kSizeLines),
                            Top(2, "keep"), Top(4, "drop"), Dele(4), Quit()}));
    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to home",
        " Msg: f@example.com(keep)",
        " Msg: exceeds size limit (5000 bytes)",
        " Msg: f@example.com(drop)",
        " - deleted",
        "Summary(home): Tot:4 New:3 Big:1 Acc:0 Rej:0 Flt:1",
        "Session End",
    };
    EXPECT_EQ(run.sessionTexts, expected);
    EXPECT_TRUE(run.errorTexts.empty());
}

TEST_F(FastListingTest, WithPipeliningTheNewHeadersGoOutInOneBurst) {
    // Both replies arrive in one piece: the reader must split them.
    const SessionRun run = ExpectSameAsPerMessage(
        PerMessage(), Join({Capa(true),
                            Bulk("UIDL", kUidLines),
                            Bulk("LIST", kSizeLines),
                            {script::Expect("TOP 2 0\r\nTOP 4 0\r\n"),
                             script::Send(TopReply("keep") + TopReply("drop"))},
                            Dele(4),
                            Quit()}));
    EXPECT_TRUE(SentTogether("TOP 2 0\r\nTOP 4 0\r\n"));
    EXPECT_TRUE(run.errorTexts.empty());
}

TEST_F(FastListingTest, RefusedCapaGivesThePerMessageDialogueSilently) {
    const SessionRun run = ExpectSameAsPerMessage(
        PerMessage(), Join({{script::Expect("CAPA\r\n"), script::Send("-ERR unknown command\r\n")},
                            PerMessage()}));
    EXPECT_TRUE(run.errorTexts.empty());
}

TEST_F(FastListingTest, RefusedBulkCommandGivesOneErrorLineAndThePerMessageDialogue) {
    const struct {
        Steps refusal;
        std::string errorLine;
    } cases[] = {
        {{script::Expect("UIDL\r\n"), script::Send("-ERR not now\r\n")},
         "Pop3 UIDL: -ERR not now\r\n"},
        {Join({Bulk("UIDL", kUidLines), {script::Expect("LIST\r\n"), script::Send("-ERR no\r\n")}}),
         "Pop3 LIST: -ERR no\r\n"},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.errorLine);
        const SessionRun run =
            ExpectSameAsPerMessage(PerMessage(), Join({Capa(true), refused.refusal, PerMessage()}));
        // The reply keeps its CR LF, as in every refusal the error log quotes.
        EXPECT_EQ(run.errorTexts, (std::vector<std::string>{refused.errorLine}));
    }
}

TEST_F(FastListingTest, BadOrMissingListingLinesFallBackPerNumber) {
    // UIDL: "2" has no id, "x b" no number, 9 is out of range, 3 is listed twice. LIST: 2 is
    // not a number and the reply ends before 4.
    const SessionRun run = ExpectSameAsPerMessage(
        PerMessage(),
        Join({Capa(false), Bulk("UIDL", "1 a\r\n2\r\nx b\r\n9 z\r\n0 y\r\n3 c\r\n3 c2\r\n4 d\r\n"),
              Bulk("LIST", "1 120\r\n2 abc\r\n3 5000\r\n"), Uidl(2, "b"), List(2, 120),
              Top(2, "keep"), Uidl(3, "c"), List(4, 120), Top(4, "drop"), Dele(4), Quit()}));
    EXPECT_TRUE(run.errorTexts.empty());
}

TEST_F(FastListingTest, ConnectionLostInTheListingEndsTheMailboxAsAtItsFirstMessage) {
    const SessionRun run = ExpectSameAsPerMessage(
        {script::Expect("UIDL 1\r\n"), script::Close()},
        Join({Capa(true),
              Bulk("UIDL", kUidLines),
              {script::Expect("LIST\r\n"), script::Send("+OK\r\n1 120\r\n"), script::Close()}}));
    EXPECT_TRUE(std::find(run.sessionTexts.begin(), run.sessionTexts.end(),
                          "Summary(home): Tot:1 New:0 Big:0 Acc:0 Rej:0 Flt:0") !=
                run.sessionTexts.end());
}

TEST_F(FastListingTest, CloseInTheMiddleOfABurstKeepsTheHeadersReadBeforeIt) {
    // The fast server answers TOP 2 and closes inside the reply to TOP 4; the per-message one
    // closes after its reply to TOP 2. Both sessions take up message 2 and lose the rest.
    const SessionRun run = ExpectSameAsPerMessage(
        Join({Uidl(1, "a"), Uidl(2, "b"), List(2, 120), Top(2, "keep"), {script::Close()}}),
        Join({Capa(true),
              Bulk("UIDL", kUidLines),
              Bulk("LIST", kSizeLines),
              {script::Expect("TOP 2 0\r\nTOP 4 0\r\n"),
               script::Send(TopReply("keep") + "+OK\r\nFrom: f@exa"), script::Close()}}));
    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to home",
        " Msg: f@example.com(keep)",
        "Summary(home): Tot:3 New:1 Big:0 Acc:0 Rej:0 Flt:0",
        "Session End",
    };
    EXPECT_EQ(run.sessionTexts, expected);
}

TEST_F(FastListingTest, DovecotGivesTheSameSessionsAsThePerMessageDialogue) {
    const RealMailbox user("u44");
    user.Clear();
    user.Drop(test::Message("first"));
    user.Drop(test::Message("too big", std::string(3000, 'x') + "\r\n"));
    user.Drop(test::Message("second"));
    AddRealMailbox("real", user);
    pop3.connection.Limits() = TransportLimits{};
    WriteRegBool(t.db, MailboxKeyPath("real"), schema::LimitMessageSizeEnabled, true);
    Set("real", schema::LimitSize, "2000");
    // A filter that matches without touching the server: counted in the summary.
    WriteRegString(t.db, FilterKeyPath("real", "seen"), schema::Rules,
                   "      Subject contains `second`\r\n");
    WriteRegString(t.db, FilterKeyPath("real", "seen"), schema::Actions, "Stop\r\n");
    Set("real", schema::Operation, "seen\r\n");

    const auto runFrom = [&](const std::string& startData, bool fast) {
        t.home.Write("real.dat", startData);
        WriteRegBool(t.db, SettingsRoot, schema::FastListing, fast);
        t.ui.sessionLines.clear();
        sends.clear();
        EXPECT_EQ(RunSession(session), SessionOutcome::Ran);
        return std::make_pair(SessionTexts(), t.home.Read("real.dat"));
    };

    // All new, then two more messages beside the three cached ones.
    const auto plainNew = runFrom("", false);
    const auto fastNew = runFrom("", true);
    EXPECT_EQ(fastNew, plainNew);
    EXPECT_TRUE(SentTogether("TOP 1 0\r\nTOP 3 0\r\n"));
    EXPECT_TRUE(Logged("Summary(real): Tot:3 New:3 Big:1 Acc:0 Rej:0 Flt:1"));

    user.Drop(test::Message("third"));
    user.Drop(test::Message("fourth"));
    const auto plainMixed = runFrom(plainNew.second, false);
    const auto fastMixed = runFrom(plainNew.second, true);
    EXPECT_EQ(fastMixed, plainMixed);
    EXPECT_TRUE(SentTogether("TOP 4 0\r\nTOP 5 0\r\n"));
    EXPECT_TRUE(Logged("Summary(real): Tot:5 New:2 Big:0 Acc:0 Rej:0 Flt:0"));
    EXPECT_TRUE(t.ui.errorLines.empty());
}

} // namespace
} // namespace zelm
