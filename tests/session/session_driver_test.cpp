#include <gtest/gtest.h>

#include <ostream>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "session/session_driver.h"
#include "tests/session/session_fixture.h"

// Whole sessions against the real Dovecot (users u13 to u24) and, where a server must
// misbehave, against the scripted fake server.
namespace zelm {
namespace {

using test::FakeServer;
using test::RealMailbox;
namespace script = test::script;

using test::Join;
using test::Login;
using test::Message;
using test::WholeMessage;

class SessionDriverTest : public test::SessionFixture {};

TEST_F(SessionDriverTest, FirstSessionLogsEveryMessageAndCachesTheirIds) {
    const RealMailbox user("u13");
    user.Clear();
    for (const char* subject : {"one", "two", "three"}) {
        user.Drop(Message(subject));
    }
    AddRealMailbox("home", user);

    EXPECT_EQ(RunSession(session), SessionOutcome::Ran);

    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to home",
        " Msg: Alice <alice@example.com>(one)",
        " Msg: Alice <alice@example.com>(two)",
        " Msg: Alice <alice@example.com>(three)",
        "Summary(home): Tot:3 New:3 Big:0 Acc:0 Rej:0 Flt:0",
        "Session End",
    };
    EXPECT_EQ(SessionTexts(), expected);
    EXPECT_TRUE(t.ui.errorLines.empty());
    const auto cache = Cache("home");
    ASSERT_EQ(cache.size(), 3u);
    EXPECT_NE(cache[0], cache[1]);
    EXPECT_NE(cache[1], cache[2]);
    // The files written are the ones the logs were echoed from.
    EXPECT_FALSE(t.context.connectionInUse);
    EXPECT_FALSE(t.context.log.IsOpen());
}

TEST_F(SessionDriverTest, SecondSessionFindsEveryMessageInTheCache) {
    const RealMailbox user("u14");
    user.Clear();
    user.Drop(Message("one"));
    user.Drop(Message("two"));
    AddRealMailbox("home", user);
    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);
    t.ui.sessionLines.clear();

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    const std::vector<std::string> expected = {"Session Start", "Connected to home",
                                               "Summary(home): Tot:2 New:0 Big:0 Acc:0 Rej:0 Flt:0",
                                               "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
    EXPECT_EQ(Cache("home").size(), 2u);
}

TEST_F(SessionDriverTest, CacheLimitKeepsOnlyTheNewestIds) {
    const RealMailbox user("u15");
    user.Clear();
    for (int i = 1; i <= 5; ++i) {
        user.Drop(Message("m" + std::to_string(i)));
    }
    AddRealMailbox("home", user);
    Set("home", schema::Cache, "3");
    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);
    const auto firstCache = Cache("home");
    ASSERT_EQ(firstCache.size(), 3u);
    t.ui.sessionLines.clear();

    // Messages 1 and 2 fell out of the Cache, so they are new again.
    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(Logged(" Msg: Alice <alice@example.com>(m1)"));
    EXPECT_TRUE(Logged(" Msg: Alice <alice@example.com>(m2)"));
    EXPECT_FALSE(Logged(" Msg: Alice <alice@example.com>(m3)"));
    EXPECT_TRUE(Logged("Summary(home): Tot:5 New:2 Big:0 Acc:0 Rej:0 Flt:0"));
    const auto secondCache = Cache("home");
    ASSERT_EQ(secondCache.size(), 3u);
    EXPECT_EQ(secondCache[0], firstCache[2]);
}

TEST_F(SessionDriverTest, SizeLimitCountsOnlyMessagesAboveIt) {
    const RealMailbox user("u16");
    user.Clear();
    const std::string atLimit = Message("at limit");
    const std::string oneAbove = Message("one more", "Body!\r\n");
    ASSERT_EQ(oneAbove.size(), atLimit.size() + 1);
    user.Drop(atLimit);
    user.Drop(oneAbove);
    AddRealMailbox("home", user);
    WriteRegBool(t.db, MailboxKeyPath("home"), schema::LimitMessageSizeEnabled, true);
    Set("home", schema::LimitSize, std::to_string(atLimit.size()));

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to home",
        " Msg: Alice <alice@example.com>(at limit)",
        " Msg: exceeds size limit (" + std::to_string(oneAbove.size()) + " bytes)",
        "Summary(home): Tot:2 New:2 Big:1 Acc:0 Rej:0 Flt:0",
        "Session End",
    };
    EXPECT_EQ(SessionTexts(), expected);
    // A message too big is still remembered: it is not looked at again.
    EXPECT_EQ(Cache("home").size(), 2u);
}

TEST_F(SessionDriverTest, DisabledMailboxWritesNoLineButRewritesItsCache) {
    const std::string dataFile = DataFilePath(t.home.Path(), "off");
    WriteSection(dataFile, kSectionAcceptList, {"friend"});
    WriteSection(dataFile, kSectionCache, {"a", "b", "c", "d"});
    WriteRegBool(t.db, MailboxKeyPath("off"), schema::MailboxEnabled, false);
    Set("off", schema::Cache, "2");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_EQ(SessionTexts(), (std::vector<std::string>{"Session Start", "Session End"}));
    EXPECT_EQ(Cache("off"), (std::vector<std::string>{"c", "d"}));
    EXPECT_EQ(ReadSectionLines(dataFile, kSectionAcceptList), std::vector<std::string>{"friend"});
}

TEST_F(SessionDriverTest, WrongPasswordLogsTheRefusalAndAZeroSummary) {
    const RealMailbox user("u17");
    user.Clear();
    user.Drop(Message("never seen"));
    AddRealMailbox("home", user);
    Set("home", schema::Password, ScramblePassword("wrong"));

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    const std::vector<std::string> expected = {
        "Session Start", "Summary(home): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0", "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
    ASSERT_EQ(ErrorTexts().size(), 1u);
    EXPECT_EQ(ErrorTexts()[0].rfind("Pop3 PASS: -ERR", 0), 0u) << ErrorTexts()[0];
    EXPECT_TRUE(Cache("home").empty());
}

TEST_F(SessionDriverTest, MailboxesAreVisitedInNameOrderWithoutRegardToCase) {
    // Enabled but without a host: never connected, still summarised.
    for (const char* name : {"beta", "Alpha", "gamma"}) {
        WriteRegBool(t.db, MailboxKeyPath(name), schema::MailboxEnabled, true);
    }

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    const std::vector<std::string> expected = {
        "Session Start", "Summary(Alpha): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0",
        "Summary(beta): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0",
        "Summary(gamma): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0", "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
}

TEST_F(SessionDriverTest, EveryMatchingFilterIsCounted) {
    const RealMailbox user("u18");
    user.Clear();
    user.Drop(Message("invoice 42"));
    AddRealMailbox("home", user);
    WriteRegString(t.db, FilterKeyPath("home", "bills"), schema::Rules,
                   "      Subject contains `invoice`\r\n");
    WriteRegString(t.db, FilterKeyPath("home", "other"), schema::Rules,
                   "      Subject contains `holiday`\r\n");
    WriteRegString(t.db, FilterKeyPath("home", "all"), schema::Rules,
                   "      From contains `alice`\r\n");
    // The same filter twice counts twice; an empty name never matches.
    Set("home", schema::Operation, "bills\r\nother\r\n\r\nall\r\nbills\r\n");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(Logged("Summary(home): Tot:1 New:1 Big:0 Acc:0 Rej:0 Flt:3"));
}

TEST_F(SessionDriverTest, FilterOrderChangedDuringTheSessionReachesTheNextMessage) {
    ShortLimits();
    FakeServer server(Join({Login("u", 2),
                            WholeMessage(1, "a", "one"),
                            WholeMessage(2, "b", "two"),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("home", "u", server.Port());
    WriteRegString(t.db, FilterKeyPath("home", "any"), schema::Rules,
                   "      From contains `f@example.com`\r\n");
    // The user adds the filter to the order while message 1 is being finished.
    bool added = false;
    t.ui.onPump = [&] {
        if (!added && Logged(" Msg: f@example.com(one)")) {
            Set("home", schema::Operation, "any\r\n");
            added = true;
        }
    };

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(Logged("Summary(home): Tot:2 New:2 Big:0 Acc:0 Rej:0 Flt:1"));
}

TEST_F(SessionDriverTest, AbortButtonCaptionAlternatesEveryTenMessages) {
    const RealMailbox user("u19");
    user.Clear();
    for (int i = 1; i <= 12; ++i) {
        user.Drop(Message("m" + std::to_string(i)));
    }
    AddRealMailbox("home", user);

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    std::vector<std::string> captions;
    for (const std::string& call : t.ui.calls) {
        if (call.rfind("SetAbortButton(", 0) == 0) captions.push_back(call);
    }
    std::vector<std::string> expected = {"SetAbortButton(Idle,red,enabled)",
                                         "SetAbortButton(,red,enabled)"};
    for (int n = 1; n <= 12; ++n) {
        expected.push_back(n < 10 ? "SetAbortButton(Press to abort,red,enabled)"
                                  : "SetAbortButton(Session in progress,red,enabled)");
    }
    expected.push_back("SetAbortButton(Idle,green,disabled)");
    EXPECT_EQ(captions, expected);
}

TEST_F(SessionDriverTest, AbortBeforeTheFirstMessageStillSetsItsCaption) {
    FakeServer server(Join({Login("u20", 3),
                            WholeMessage(1, "id-1", "one"),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    // Pressed while the outbox is looked at, before message 1.
    t.ui.onPump = [&] {
        if (t.context.log.IsOpen() && pop3.connection.Active() && session.messageNumber == 0 &&
            !t.context.abortRequested)
            AbortSession(t.context);
    };

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    std::vector<std::string> captions;
    for (const std::string& call : t.ui.calls) {
        if (call.rfind("SetAbortButton(", 0) == 0) captions.push_back(call);
    }
    const std::vector<std::string> expected = {
        "SetAbortButton(Idle,red,enabled)", "SetAbortButton(,red,enabled)",
        "SetAbortButton(Aborting session...,red,enabled)",
        "SetAbortButton(Press to abort,red,enabled)", "SetAbortButton(Idle,green,disabled)"};
    EXPECT_EQ(captions, expected);
    EXPECT_TRUE(Logged("Summary(a): Tot:1 New:1 Big:0 Acc:0 Rej:0 Flt:0"));
}

TEST_F(SessionDriverTest, SessionStartAndEndDriveTimerTrayAndFlags) {
    bool flagDuringRun = false;
    t.ui.onPump = [&] { flagDuringRun = flagDuringRun || t.context.connectionInUse; };
    WriteRegBool(t.db, MailboxKeyPath("home"), schema::MailboxEnabled, false);

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(flagDuringRun);
    const std::vector<std::string> expected = {"StopSessionTimer()",
                                               "SetTrayAnimation(on)",
                                               "SetAbortButton(Idle,red,enabled)",
                                               "SetAbortButton(Idle,green,disabled)",
                                               "RestartSessionTimer()",
                                               "SetTrayAnimation(off)"};
    EXPECT_EQ(t.ui.calls, expected);
    EXPECT_FALSE(t.context.connectionInUse);
}

TEST_F(SessionDriverTest, RunWhileTheConnectionIsInUseDoesNothing) {
    t.context.connectionInUse = true;

    EXPECT_EQ(RunSession(session), SessionOutcome::Busy);

    EXPECT_TRUE(t.ui.calls.empty());
    EXPECT_TRUE(t.ui.sessionLines.empty());
    EXPECT_FALSE(t.home.Exists("error.log"));
    EXPECT_TRUE(t.context.connectionInUse);
}

TEST_F(SessionDriverTest, LogsThatCannotOpenRefuseTheSessionBeforeAnyFlag) {
    ASSERT_EQ(::mkdir(t.home.File("error.log").c_str(), 0700), 0);
    WriteRegBool(t.db, MailboxKeyPath("home"), schema::MailboxEnabled, true);

    EXPECT_EQ(RunSession(session), SessionOutcome::NotStarted);

    EXPECT_FALSE(t.context.connectionInUse);
    EXPECT_FALSE(t.context.log.IsOpen());
    EXPECT_EQ(t.ui.timerRestarts, 1);
    EXPECT_FALSE(t.ui.trayAnimating);
    ASSERT_EQ(t.ui.messages.size(), 1u);
    EXPECT_TRUE(t.ui.sessionLines.empty());
    // Nothing of the mailbox was touched.
    EXPECT_FALSE(t.home.Exists("home.dat"));
}

TEST_F(SessionDriverTest, StoredMailboxNameThatFailsTheCheckIsPassedOver) {
    WriteRegBool(t.db, MailboxKeyPath("placeholder"), schema::MailboxEnabled, true);
    // The store refuses such a name; a database written by other means can still hold one.
    ASSERT_EQ(sqlite3_exec(t.db.Handle(),
                           "UPDATE keys SET name = '../evil' WHERE name = 'placeholder'", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    WriteRegBool(t.db, MailboxKeyPath("fine"), schema::MailboxEnabled, true);

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    const std::vector<std::string> expected = {
        "Session Start", "Summary(fine): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0", "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
    ASSERT_EQ(ErrorTexts().size(), 1u);
    EXPECT_EQ(ErrorTexts()[0].rfind("Mailbox ../evil passed over: ", 0), 0u) << ErrorTexts()[0];
    struct stat info {};
    EXPECT_NE(::stat((t.home.Path() + "../evil.dat").c_str(), &info), 0);
    EXPECT_NE(::stat((t.home.Path() + "../evil").c_str(), &info), 0);
}

TEST_F(SessionDriverTest, AbortFinishesTheMessageQuitsAndVisitsNoFurtherMailbox) {
    FakeServer server(Join({Login("u20", 4),
                            WholeMessage(1, "id-1", "one"),
                            WholeMessage(2, "id-2", "two"),
                            {script::Expect("QUIT\r\n"), script::Send("+OK bye\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    // Visiting b would show as a connect failure in the error log.
    AddMailbox("b", "u20", test::ClosedLoopbackPort());
    bool pressed = false;
    t.ui.onPump = [&] {
        if (session.messageNumber == 2 && !pressed) {
            pressed = true;
            AbortSession(t.context);
            EXPECT_EQ(t.ui.abortCaption, kAbortCaptionAborting);
        }
    };

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to a",
        " Msg: f@example.com(one)",
        " Msg: f@example.com(two)",
        "Summary(a): Tot:2 New:2 Big:0 Acc:0 Rej:0 Flt:0",
        "Session End",
    };
    EXPECT_EQ(SessionTexts(), expected);
    EXPECT_TRUE(ErrorTexts().empty());
    EXPECT_EQ(Cache("a"), (std::vector<std::string>{"id-1", "id-2"}));
    EXPECT_FALSE(t.context.abortRequested);
    EXPECT_EQ(t.ui.abortCaption, kAbortCaptionIdle);
}

TEST_F(SessionDriverTest, CachedIdsMatchWithoutRegardToCase) {
    FakeServer server(Join({Login("u20", 2),
                            {script::Expect("UIDL 1\r\n"), script::Send("+OK 1 ABC-1\r\n")},
                            WholeMessage(2, "abc-2", "two"),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    WriteSection(DataFilePath(t.home.Path(), "a"), kSectionCache, {"abc-1"});

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(Logged("Summary(a): Tot:2 New:1 Big:0 Acc:0 Rej:0 Flt:0"));
    EXPECT_EQ(Cache("a"), (std::vector<std::string>{"abc-1", "abc-2"}));
}

// A LIST or TOP that the server refuses must not let the message be judged by the previous
// message's size or header: it is passed over, logged, and left out of the Cache.
struct RefusedStepCase {
    const char* name;
    std::vector<test::ScriptStep> firstMessage;
    const char* logText;
};

void PrintTo(const RefusedStepCase& row, std::ostream* out) {
    *out << row.name;
}

class RefusedStepTest : public SessionDriverTest,
                        public ::testing::WithParamInterface<RefusedStepCase> {};

TEST_P(RefusedStepTest, MessageIsPassedOverAndNotCached) {
    FakeServer server(Join({Login("u20", 3),
                            WholeMessage(1, "id-1", "one"),
                            GetParam().firstMessage,
                            WholeMessage(3, "id-3", "three"),
                            {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    const std::vector<std::string> expected = {
        "Session Start",
        "Connected to a",
        " Msg: f@example.com(one)",
        GetParam().logText,
        " Msg: f@example.com(three)",
        "Summary(a): Tot:3 New:3 Big:0 Acc:0 Rej:0 Flt:0",
        "Session End",
    };
    EXPECT_EQ(SessionTexts(), expected);
    EXPECT_EQ(Cache("a"), (std::vector<std::string>{"id-1", "id-3"}));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RefusedStepTest,
    ::testing::Values(
        RefusedStepCase{"List",
                        {script::Expect("UIDL 2\r\n"), script::Send("+OK 2 id-2\r\n"),
                         script::Expect("LIST 2\r\n"), script::Send("-ERR no such message\r\n")},
                        " Msg: size not known (LIST refused), left for the next session"},
        RefusedStepCase{"Top",
                        {script::Expect("UIDL 2\r\n"), script::Send("+OK 2 id-2\r\n"),
                         script::Expect("LIST 2\r\n"), script::Send("+OK 2 100\r\n"),
                         script::Expect("TOP 2 0\r\n"), script::Send("-ERR busy\r\n")},
                        " Msg: header not read (TOP refused), left for the next session"}),
    [](const ::testing::TestParamInfo<RefusedStepCase>& row) { return row.param.name; });

TEST_F(SessionDriverTest, FailedStatTakesUpNoMessageOfThatMailbox) {
    // a has three messages; b's STAT fails and must not inherit a's total.
    FakeServer server(
        Join({Login("u20", 1),
              WholeMessage(1, "id-1", "one"),
              {script::Expect("QUIT\r\n"), script::Send("+OK\r\n"), script::Accept(),
               script::Send("+OK ready\r\n"), script::Expect("USER u21\r\n"),
               script::Send("+OK\r\n"), script::Expect("PASS pw\r\n"), script::Send("+OK\r\n"),
               script::Expect("STAT \r\n"), script::Send("-ERR mailbox locked\r\n"),
               script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    AddMailbox("b", "u21", server.Port());

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(Logged("Connected to b"));
    EXPECT_TRUE(Logged("Summary(b): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0"));
}

// The server going away in the middle of a mailbox ends that mailbox only: the messages done so
// far are cached, the one in progress is not, and the next mailbox is still visited.
class ServerVanishesTest : public SessionDriverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ServerVanishesTest, MailboxEndsAndTheRunGoesOn) {
    const bool reset = GetParam();
    FakeServer server(
        Join({Login("u20", 3),
              WholeMessage(1, "id-1", "one"),
              {script::Expect("UIDL 2\r\n"), script::Send("+OK 2 id-2\r\n"),
               script::Expect("LIST 2\r\n"), reset ? script::Reset() : script::Close()}}));
    AddMailbox("a", "u20", server.Port());
    // Each variant has a Dovecot user of its own, so the two may run side by side.
    const RealMailbox user(reset ? "u23" : "u21");
    user.Clear();
    user.Drop(Message("from b"));
    AddRealMailbox("b", user);

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(Logged(" Msg: f@example.com(one)"));
    EXPECT_TRUE(Logged("Summary(a): Tot:2 New:2 Big:0 Acc:0 Rej:0 Flt:0"));
    EXPECT_TRUE(Logged("Connected to b"));
    EXPECT_TRUE(Logged("Summary(b): Tot:1 New:1 Big:0 Acc:0 Rej:0 Flt:0"));
    EXPECT_EQ(SessionTexts().back(), "Session End");
    EXPECT_FALSE(ErrorTexts().empty());
    EXPECT_EQ(Cache("a"), std::vector<std::string>{"id-1"});
    EXPECT_EQ(Cache("b").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Ways, ServerVanishesTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& row) {
                             return row.param ? "Reset" : "Close";
                         });

TEST_F(SessionDriverTest, FileErrorInsideAMailboxEndsOnlyThatMailbox) {
    // The outbox folder of a cannot be made: a plain file has its name.
    t.home.Write("a", "not a folder");
    FakeServer server(
        Join({Login("u20", 2), {script::Expect("QUIT\r\n"), script::Send("+OK\r\n")}}));
    AddMailbox("a", "u20", server.Port());
    ShortLimits();
    WriteSection(DataFilePath(t.home.Path(), "a"), kSectionCache, {"kept"});
    WriteRegBool(t.db, MailboxKeyPath("b"), schema::MailboxEnabled, true);

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_TRUE(server.Finish()) << server.Failure();
    const std::vector<std::string> expected = {
        "Session Start", "Connected to a", "Summary(a): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0",
        "Summary(b): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0", "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
    ASSERT_EQ(ErrorTexts().size(), 1u);
    EXPECT_EQ(ErrorTexts()[0].rfind("Mailbox a: ", 0), 0u) << ErrorTexts()[0];
    EXPECT_EQ(Cache("a"), std::vector<std::string>{"kept"});
}

TEST_F(SessionDriverTest, CacheThatCannotBeSavedEndsTheRunCleanly) {
    const RealMailbox user("u22");
    user.Clear();
    user.Drop(Message("one"));
    AddRealMailbox("a", user);
    WriteRegBool(t.db, MailboxKeyPath("b"), schema::MailboxEnabled, true);
    // The data file is rewritten through this temporary name; a folder in its place makes the
    // write fail at the end of the mailbox.
    WriteSection(DataFilePath(t.home.Path(), "a"), kSectionCache, {});
    ASSERT_EQ(::mkdir(t.home.File(std::string(kDataFileTempName)).c_str(), 0700), 0);

    EXPECT_EQ(RunSession(session), SessionOutcome::EndedByError);

    const std::vector<std::string> expected = {
        "Session Start", "Connected to a", " Msg: Alice <alice@example.com>(one)",
        "Summary(a): Tot:1 New:1 Big:0 Acc:0 Rej:0 Flt:0", "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
    ASSERT_EQ(ErrorTexts().size(), 1u);
    EXPECT_EQ(ErrorTexts()[0].rfind("Session ended early: ", 0), 0u) << ErrorTexts()[0];
    EXPECT_FALSE(t.context.connectionInUse);
    EXPECT_FALSE(t.context.log.IsOpen());
    EXPECT_EQ(t.ui.timerRestarts, 1);
    EXPECT_FALSE(t.ui.trayAnimating);
    EXPECT_EQ(t.ui.messages.size(), 1u);
    EXPECT_FALSE(pop3.connection.Active());
}

TEST_F(SessionDriverTest, UnreadableFilesOrSettingsStillGiveTheSummaryAndKeepTheFile) {
    // a's data file cannot be read; b's Host is stored as a number; c's MailboxEnabled is.
    ASSERT_EQ(::mkdir(t.home.File("a.dat").c_str(), 0700), 0);
    WriteRegBool(t.db, MailboxKeyPath("a"), schema::MailboxEnabled, true);
    WriteRegBool(t.db, MailboxKeyPath("b"), schema::MailboxEnabled, true);
    ConfigStore key(t.db);
    ASSERT_TRUE(key.OpenKey(MailboxKeyPath("b"), false));
    key.WriteInteger(schema::Host, 7);
    WriteSection(DataFilePath(t.home.Path(), "b"), kSectionCache, {"kept"});
    ASSERT_TRUE(key.OpenKey(MailboxKeyPath("c"), true));
    key.WriteString(schema::MailboxEnabled, "1");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    // Enabled mailboxes are summed up with zero counters; c, whose flag cannot be read, counts
    // as not enabled.
    const std::vector<std::string> expected = {
        "Session Start", "Summary(a): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0",
        "Summary(b): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0", "Session End"};
    EXPECT_EQ(SessionTexts(), expected);
    const auto errors = ErrorTexts();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0].rfind("Mailbox a: ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("Mailbox b: ", 0), 0u) << errors[1];
    EXPECT_EQ(errors[2].rfind("Mailbox c: ", 0), 0u) << errors[2];
    // Neither Cache is written back: the file or the limit is not known.
    struct stat info {};
    ASSERT_EQ(::stat(t.home.File("a.dat").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(t.home.Read("b.dat"), "[Cache]\r\nkept\r\n\r\n####\r\n");
}

// EnsureRetrieved: the message's text joins the variables once, and a refusal adds nothing.
class EnsureRetrievedTest : public SessionDriverTest {
protected:
    void Connect(FakeServer& server) {
        pop3.connection.SetEndpoint("127.0.0.1");
        pop3.connection.SetPort(server.Port());
        ShortLimits();
        ASSERT_TRUE(Pop3Open(pop3, "u20", "pw"));
        pop3.headerLines = {"From: f@example.com", "Subject: hi", ""};
        ParseHeaders(pop3.headerLines, t.ui.headerFieldNames, 120, session.Message());
        session.messageNumber = 1;
    }
};

TEST_F(EnsureRetrievedTest, AppendsHeaderAndBody) {
    FakeServer server(Join({Login("u20", 1),
                            {script::Expect("RETR 1\r\n"),
                             script::Send("+OK\r\nFrom: f@example.com\r\nSubject: hi\r\n\r\n"
                                          "line one\r\n..dotted\r\n.\r\n")}}));
    Connect(server);
    const auto headerValues = session.Message().messageVariables.values;

    ASSERT_TRUE(EnsureRetrieved(session));

    // "Header" and "Body" follow the header values; "Body" is read from the retrieved text.
    MessageVariables& variables = session.Message().messageVariables;
    ASSERT_EQ(variables.values.size(), headerValues.size() + 2);
    variables.RebuildNames(t.ui.headerFieldNames, {});
    EXPECT_TRUE(std::equal(headerValues.begin(), headerValues.end(), variables.values.begin()));
    EXPECT_EQ(variables.Lookup("Header"),
              std::optional<std::string_view>("From: f@example.com\r\nSubject: hi\r\n\r\n"));
    EXPECT_EQ(variables.Lookup("Body"), std::optional<std::string_view>("line one\r\n.dotted\r\n"));
    EXPECT_TRUE(pop3.messageRetrieved);
    EXPECT_TRUE(t.home.Exists("zelm.dat"));
}

TEST_F(EnsureRetrievedTest, RefusedRetrievalAddsNothing) {
    FakeServer server(
        Join({Login("u20", 1), {script::Expect("RETR 1\r\n"), script::Send("-ERR gone\r\n")}}));
    Connect(server);
    const auto headerValues = session.Message().messageVariables.values;

    EXPECT_FALSE(EnsureRetrieved(session));

    EXPECT_EQ(session.Message().messageVariables.values, headerValues);
    EXPECT_FALSE(pop3.messageRetrieved);
}

} // namespace
} // namespace zelm
