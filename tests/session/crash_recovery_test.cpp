#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "messages/cache_journal.h"
#include "session/session_driver.h"
#include "tests/session/session_fixture.h"

// What a session finds when an earlier one was killed: the journal it left behind, with the
// ids of the messages it finished and the deletions no QUIT committed.
namespace zelm {
namespace {

using test::FakeServer;
using test::Join;
using test::Login;
using test::WholeMessage;
namespace script = test::script;

using Ids = std::vector<std::string>;

class CrashRecoveryTest : public test::SessionFixture {
protected:
    std::string JournalName() const { return "a.jnl"; }
    /// A filter on mailbox a that deletes every message from f@example.com.
    void DeleteEveryMessage() {
        WriteRegString(t.db, FilterKeyPath("a", "all"), schema::Rules,
                       "      From contains `f@example.com`\r\n");
        WriteRegString(t.db, FilterKeyPath("a", "all"), schema::Actions, "Delete message\r\n");
        Set("a", schema::Operation, "all\r\n");
    }
};

std::vector<test::ScriptStep> Cached(int n, const std::string& uid) {
    const std::string number = std::to_string(n);
    return {script::Expect("UIDL " + number + "\r\n"),
            script::Send("+OK " + number + " " + uid + "\r\n")};
}

std::vector<test::ScriptStep> LeftOverDeletion(int n, const std::string& uid,
                                               const std::string& subject) {
    const std::string number = std::to_string(n);
    return {script::Expect("UIDL " + number + "\r\n"),
            script::Send("+OK " + number + " " + uid + "\r\n"),
            script::Expect("TOP " + number + " 0\r\n"),
            script::Send("+OK\r\nFrom: f@example.com\r\nSubject: " + subject + "\r\n\r\n.\r\n"),
            script::Expect("DELE " + number + "\r\n"),
            script::Send("+OK\r\n")};
}

TEST_F(CrashRecoveryTest, IdsLeftInTheJournalAreNotProcessedAgain) {
    FakeServer server(Join({Login("u20", 3),
                            Cached(1, "id-1"),
                            Cached(2, "id-2"),
                            WholeMessage(3, "id-3", "three"),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    WriteSection(DataFilePath(t.home.Path(), "a"), kSectionCache, {"id-1"});
    t.home.Write(JournalName(), "cache id-2\r\n");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(Logged("Summary(a): Tot:3 New:1 Big:0 Acc:0 Rej:0 Flt:0"));
    EXPECT_TRUE(ErrorTexts().empty());
    // After a clean end the data file is exactly what it always was, and the journal is gone.
    EXPECT_EQ(t.home.Read("a.dat"), "[Cache]\r\nid-1\r\nid-2\r\nid-3\r\n\r\n####\r\n");
    EXPECT_FALSE(t.home.Exists(JournalName()));
}

std::vector<test::ScriptStep> Deleted(int n) {
    return {script::Expect("DELE " + std::to_string(n) + "\r\n"), script::Send("+OK\r\n")};
}

TEST_F(CrashRecoveryTest, EachStepIsInTheJournalBeforeTheNextOne) {
    FakeServer server(Join({Login("u20", 3),
                            WholeMessage(1, "id-1", "one"),
                            Deleted(1),
                            WholeMessage(2, "id-2", "two"),
                            Deleted(2),
                            WholeMessage(3, "id-3", "three"),
                            Deleted(3),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    DeleteEveryMessage();
    // The journal at the last pump of each message: the one after its actions, before its id
    // is entered. Its DELE is already there, every earlier message's id too.
    std::map<int, std::string> journalAtEnd;
    t.ui.onPump = [&] {
        const auto number = static_cast<std::size_t>(session.messageNumber);
        if (number > 0 && session.cache.Size() < number)
            journalAtEnd[session.messageNumber] = t.home.Read(JournalName());
    };

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(journalAtEnd[1], "dele id-1\r\n");
    EXPECT_EQ(journalAtEnd[2], "dele id-1\r\ncache id-1\r\ndele id-2\r\n");
    EXPECT_EQ(journalAtEnd[3],
              "dele id-1\r\ncache id-1\r\ndele id-2\r\ncache id-2\r\ndele id-3\r\n");
    // The QUIT committed the deletions and the Cache holds the ids: nothing is left to do.
    EXPECT_FALSE(t.home.Exists(JournalName()));
    EXPECT_EQ(Cache("a"), (Ids{"id-1", "id-2", "id-3"}));
}

TEST_F(CrashRecoveryTest, DeletionLeftOverIsSentWithoutProcessingTheMessageAgain) {
    // Killed after message 1 was finished and message 2 deleted, before the QUIT: both are
    // still on the server. Message 3 is new.
    FakeServer server(Join({Login("u20", 3),
                            LeftOverDeletion(1, "id-1", "one"),
                            LeftOverDeletion(2, "id-2", "two"),
                            WholeMessage(3, "id-3", "three"),
                            Deleted(3),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    DeleteEveryMessage();
    t.home.Write(JournalName(), "dele id-1\r\ncache id-1\r\ndele id-2\r\n");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to a",
        " Msg: f@example.com(one)",
        " - deleted (left from an interrupted session)",
        " Msg: f@example.com(two)",
        " - deleted (left from an interrupted session)",
        " Msg: f@example.com(three)",
        " - deleted",
        "Summary(a): Tot:3 New:2 Big:0 Acc:0 Rej:0 Flt:1",
        "Session End",
    };
    EXPECT_EQ(SessionTexts(), expected);
    EXPECT_TRUE(ErrorTexts().empty());
    EXPECT_EQ(Cache("a"), (Ids{"id-1", "id-2", "id-3"}));
    EXPECT_FALSE(t.home.Exists(JournalName()));
}

// Deletions the server may not have done stay in the journal for the next session.
struct PendingCase {
    const char* name;
    int messages;
    const char* journalBefore;
    std::vector<test::ScriptStep> afterLogin;
    const char* journalAfter;
};

void PrintTo(const PendingCase& row, std::ostream* out) {
    *out << row.name;
}

class PendingDeletionTest : public CrashRecoveryTest,
                            public ::testing::WithParamInterface<PendingCase> {};

TEST_P(PendingDeletionTest, JournalKeepsWhatNoQuitCommitted) {
    FakeServer server(Join({Login("u20", GetParam().messages), GetParam().afterLogin}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    DeleteEveryMessage();
    if (*GetParam().journalBefore) t.home.Write(JournalName(), GetParam().journalBefore);

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    const std::string after = GetParam().journalAfter;
    if (after.empty()) {
        EXPECT_FALSE(t.home.Exists(JournalName())) << t.home.Read(JournalName());
    } else {
        EXPECT_EQ(t.home.Read(JournalName()), after);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, PendingDeletionTest,
    ::testing::Values(
        PendingCase{"QuitRefused", 1, "",
                    Join({WholeMessage(1, "id-1", "one"),
                          Deleted(1),
                          {script::Expect("QUIT\r\n"), script::Send("-ERR not removed\r\n")}}),
                    "dele id-1\r\n"},
        PendingCase{"ConnectionLostBeforeQuit", 1, "",
                    Join({WholeMessage(1, "id-1", "one"), Deleted(1), {script::Close()}}),
                    "dele id-1\r\n"},
        PendingCase{"DeleRefused", 1, "",
                    Join({WholeMessage(1, "id-1", "one"),
                          {script::Expect("DELE 1\r\n"), script::Send("-ERR locked\r\n"),
                           script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}),
                    "dele id-1\r\n"},
        PendingCase{"CommittedAndLeftOverGoneFromTheServer", 1, "dele id-9\r\n",
                    Join({WholeMessage(1, "id-1", "one"),
                          Deleted(1),
                          {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}),
                    ""},
        PendingCase{"LeftOverUnknownWhileAnIdIsMissing",
                    1,
                    "dele id-9\r\n",
                    {script::Expect("UIDL 1\r\n"), script::Send("-ERR no ids\r\n"),
                     script::Expect("LIST 1\r\n"), script::Send("+OK 1 120\r\n"),
                     script::Expect("TOP 1 0\r\n"),
                     script::Send("+OK\r\nFrom: x@example.org\r\n\r\n.\r\n"),
                     script::Expect("QUIT\r\n"), script::Send("+OK\r\n")},
                    "dele id-9\r\n"},
        PendingCase{"EmptyMailbox",
                    0,
                    "dele id-9\r\n",
                    {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")},
                    "dele id-9\r\n"}),
    [](const ::testing::TestParamInfo<PendingCase>& row) { return row.param.name; });

TEST_F(CrashRecoveryTest, DamagedJournalCostsOneErrorLineAndNothingOfTheCache) {
    // A disabled mailbox: its Cache is still rewritten, so the journal is taken up.
    WriteRegBool(t.db, MailboxKeyPath("a"), schema::MailboxEnabled, false);
    WriteSection(DataFilePath(t.home.Path(), "a"), kSectionCache, {"kept-1", "kept-2"});
    t.home.Write(JournalName(), "cache id-1\r\n\x01garbage\r\ndele id-2\r\ncache id-");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_EQ(ErrorTexts(), (std::vector<std::string>{"Mailbox a: 2 damaged lines of the journal " +
                                                      t.home.File(JournalName()) + " left out"}));
    EXPECT_EQ(Cache("a"), (Ids{"kept-1", "kept-2", "id-1"}));
    // The deletion waits for the mailbox's next visit with a connection.
    EXPECT_EQ(t.home.Read(JournalName()), "dele id-2\r\n");
}

} // namespace
} // namespace zelm
