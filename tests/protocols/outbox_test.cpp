#include "protocols/outbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

#include "messages/data_file.h"
#include "tests/support/fake_server.h"
#include "tests/support/short_limits.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::ScriptStep;
using test::ShortenLimits;
namespace script = test::script;

const std::vector<std::string> kFiveLines = {"Subject: five", "", "one", ".two", "three"};

std::vector<std::string> Texts(const std::vector<std::string>& lines) {
    std::vector<std::string> texts;
    for (const auto& line : lines)
        texts.push_back(line.substr(21, line.size() - 23));
    return texts;
}

/// One whole accepted dialogue for a message with one recipient, on its own connection.
std::vector<ScriptStep> AcceptOne(bool last) {
    std::vector<ScriptStep> steps = {
        script::Send("220 ready\r\n"),  script::ReadUntil("\r\n"), // HELO
        script::Send("250 hello\r\n"),  script::ReadUntil("\r\n"), // MAIL FROM
        script::Send("250 ok\r\n"),     script::ReadUntil("\r\n"), // RCPT TO
        script::Send("250 ok\r\n"),     script::Expect("DATA\r\n"),     script::Send("354 go\r\n"),
        script::ReadUntil("\r\n.\r\n"), script::Send("250 queued\r\n"), script::Expect("QUIT\r\n"),
        script::Send("221 bye\r\n"),    script::ExpectClose()};
    if (!last) steps.push_back(script::Accept());
    return steps;
}

class OutboxTest : public ::testing::Test {
protected:
    OutboxTest() {
        env.context.log.OpenSessionLogs();
        env.context.currentMailbox = "Office";
        folder = OutboxFolder(env.context.programDir, "Office");
        sender.host = "127.0.0.1";
        sender.senderAddress = "me@example.org";
        ShortenLimits(sender.smtp);
    }

    std::string Store(int attempts, std::vector<std::string> recipients,
                      std::vector<std::string> lines) {
        EnsureOutboxFolder(folder);
        return WriteOutboxMessage(folder, {attempts, std::move(recipients), std::move(lines)});
    }

    std::vector<OutboxMessage> Outbox() const {
        std::vector<OutboxMessage> messages;
        for (const auto& path : ListOutboxFiles(folder))
            messages.push_back(ReadOutboxMessage(path));
        return messages;
    }

    /// A server that refuses the first recipient of the message.
    static std::vector<ScriptStep> Refusing() {
        return {script::Send("220 ready\r\n"),        script::ReadUntil("\r\n"),
                script::Send("250 hello\r\n"),        script::ReadUntil("\r\n"),
                script::Send("250 ok\r\n"),           script::ReadUntil("\r\n"),
                script::Send("550 unknown user\r\n"), script::Expect("QUIT\r\n"),
                script::Send("221 bye\r\n")};
    }

    void Aim(const FakeServer& server) { sender.port = server.Port(); }

    test::TestContext env;
    SmtpSender sender{env.context};
    std::string folder;
};

TEST_F(OutboxTest, FailedSendLeavesOneFileWithTheLayout) {
    FakeServer server(Refusing());
    Aim(server);
    const std::vector<std::string> message = {"L1", "L2", "L3"};
    SmtpSendMessage(sender, {"a@example.com", "b@example.com"}, message);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    const auto files = ListOutboxFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    const std::string name = files[0].substr(folder.size() + 1);
    EXPECT_EQ(name.size(), 12u);
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXY"), 8u);
    EXPECT_TRUE(name.ends_with(".dat"));
    EXPECT_EQ(env.home.Read("Office/" + name),
              "1\r\na@example.com\r\nb@example.com\r\n\r\nL1\r\nL2\r\nL3\r\n\r\n");
}

TEST_F(OutboxTest, MissingFolderIsCreatedAndNothingHappens) {
    SendPendingMail(sender);
    struct stat info {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_TRUE(env.ui.sessionLines.empty());
    EXPECT_TRUE(env.ui.panelHistory[3].empty());
    // The abort button is blanked and the window pumped once, even with nothing to send.
    EXPECT_EQ(env.ui.abortCaption, "");
    EXPECT_EQ(env.ui.pumpCount, 1);
}

TEST_F(OutboxTest, PendingMessageIsSentAsTheNextAttemptAndRemoved) {
    Store(2, {"a@example.com", "b@example.com"}, kFiveLines);
    FakeServer server(
        {script::Send("220 ready\r\n"), script::Expect("HELO 127.0.0.1\r\n"),
         script::Send("250 hello\r\n"), script::Expect("MAIL FROM:<me@example.org>\r\n"),
         script::Send("250 ok\r\n"), script::Expect("RCPT TO:<a@example.com>\r\n"),
         script::Send("250 ok\r\n"), script::Expect("RCPT TO:<b@example.com>\r\n"),
         script::Send("250 ok\r\n"), script::Expect("DATA\r\n"), script::Send("354 go\r\n"),
         script::Expect("Subject: five\r\n\r\none\r\n..two\r\nthree\r\n.\r\n"),
         script::Send("250 queued\r\n"), script::Expect("QUIT\r\n"), script::Send("221 bye\r\n")});
    sender.port = server.Port();
    SendPendingMail(sender);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(sender.attemptNumber, 3);
    EXPECT_EQ(Texts(env.ui.sessionLines),
              (std::vector<std::string>{"SMTP pending msgs: ",
                                        " - sent msg to a@example.com,b@example.com"}));
    EXPECT_TRUE(Outbox().empty());
    EXPECT_EQ(env.ui.panelHistory[3], (std::vector<std::string>{"Pending mail...", ""}));
}

TEST_F(OutboxTest, AttemptsAreCountedUpToTheMaximum) {
    struct Case {
        const char* maxAttempts;
        int storedCount;
        /// The count of the file left after the failed retry; 0 for none.
        int expectedCount;
        const char* suffix;
        std::size_t errorLines;
    };
    const Case cases[] = {
        {"3", 1, 2, " - attempt 2 (will try again)", 1},
        {"3", 2, 0, " - attempt 3 (message deleted)", 1},
        {"0", 41, 42, " - attempt 42 (will try again)", 1},
        {"-1", 5, 6, " - attempt 6 (will try again)", 1},
        // Not a number: kept as with no maximum, and one more error-log line says why.
        {"three", 7, 8, " - attempt 8 (will try again)", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxAttempts + std::string(" / ") + std::to_string(c.storedCount));
        env.ui.maxAttemptsText = c.maxAttempts;
        env.ui.sessionLines.clear();
        env.ui.errorLines.clear();
        Store(c.storedCount, {"a@example.com"}, kFiveLines);
        FakeServer server(Refusing());
        Aim(server);
        SendPendingMail(sender);
        EXPECT_TRUE(server.Finish()) << server.Failure();
        ASSERT_EQ(env.ui.sessionLines.size(), 2u);
        EXPECT_TRUE(Texts(env.ui.sessionLines)[1].ends_with(c.suffix)) << env.ui.sessionLines[1];
        EXPECT_EQ(env.ui.errorLines.size(), c.errorLines);
        const auto outbox = Outbox();
        if (c.expectedCount == 0) {
            EXPECT_TRUE(outbox.empty());
            continue;
        }
        ASSERT_EQ(outbox.size(), 1u);
        EXPECT_EQ(outbox[0].attempts, c.expectedCount);
        EXPECT_EQ(outbox[0].recipients, (std::vector<std::string>{"a@example.com"}));
        EXPECT_EQ(outbox[0].lines, kFiveLines);
        for (const auto& path : ListOutboxFiles(folder))
            std::remove(path.c_str());
    }
}

TEST_F(OutboxTest, RetriedMessageStaysAsComposed) {
    // Each retry reads the file back and stores it again; no empty line may pile up.
    env.ui.maxAttemptsText = "0";
    const std::vector<std::string> message = {"Subject: x", "", "body", ""};
    Store(1, {"a@example.com"}, message);
    for (int round = 0; round < 3; ++round) {
        FakeServer server(Refusing());
        Aim(server);
        SendPendingMail(sender);
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
    const auto files = ListOutboxFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(env.home.Read("Office/" + files[0].substr(folder.size() + 1)),
              "4\r\na@example.com\r\n\r\nSubject: x\r\n\r\nbody\r\n\r\n\r\n");
}

TEST_F(OutboxTest, UnreachableServerStopsTheBatch) {
    env.ui.maxAttemptsText = "5";
    Store(1, {"a@example.com"}, {"first"});
    Store(1, {"b@example.com"}, {"second"});
    Store(1, {"c@example.com"}, {"third"});
    const auto before = ListOutboxFiles(folder);
    ASSERT_EQ(before.size(), 3u);
    const auto bytes = [&](const std::string& path) {
        return env.home.Read("Office/" + path.substr(folder.size() + 1));
    };
    const std::string tried = ReadOutboxMessage(before[0]).recipients.at(0);
    const std::vector<std::string> untouched = {bytes(before[1]), bytes(before[2])};
    sender.port = test::ClosedLoopbackPort();
    SendPendingMail(sender);
    EXPECT_EQ(sender.sendStatus, SendStatus::NotReachable);

    // The file tried first is replaced by one with a higher count; the other two are left
    // exactly as they were.
    const auto after = ListOutboxFiles(folder);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(std::count(after.begin(), after.end(), before[0]), 0);
    for (std::size_t i = 1; i < 3; ++i) {
        ASSERT_EQ(std::count(after.begin(), after.end(), before[i]), 1);
        EXPECT_EQ(bytes(before[i]), untouched[i - 1]);
    }
    for (const auto& path : after) {
        if (path == before[1] || path == before[2]) continue;
        const OutboxMessage replaced = ReadOutboxMessage(path);
        EXPECT_EQ(replaced.attempts, 2);
        EXPECT_EQ(replaced.recipients, (std::vector<std::string>{tried}));
    }
    EXPECT_EQ(Texts(env.ui.sessionLines),
              (std::vector<std::string>{"SMTP pending msgs: ",
                                        " - msg to " + tried +
                                            " not sent: could not connect to "
                                            "127.0.0.1 - attempt 2 (will try again)"}));
}

TEST_F(OutboxTest, DamagedFileIsSkippedAndKept) {
    EnsureOutboxFolder(folder);
    env.home.Write("Office/00000000.dat", "not a number\r\na@example.com\r\n\r\nx\r\n\r\n");
    Store(1, {"a@example.com"}, {"one"});
    Store(1, {"b@example.com"}, {"two"});
    FakeServer server([] {
        auto steps = AcceptOne(false);
        const auto second = AcceptOne(true);
        steps.insert(steps.end(), second.begin(), second.end());
        return steps;
    }());
    sender.port = server.Port();
    SendPendingMail(sender);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(ListOutboxFiles(folder), (std::vector<std::string>{folder + "/00000000.dat"}));
    ASSERT_EQ(env.ui.errorLines.size(), 1u);
    EXPECT_TRUE(Texts(env.ui.errorLines)[0].starts_with("SMTP pending msg skipped: "));
}

TEST_F(OutboxTest, NoCurrentMailboxIsAnError) {
    env.context.currentMailbox.clear();
    EXPECT_THROW(SendPendingMail(sender), ZelmError);
    const std::vector<std::string> message = {"x"};
    EXPECT_THROW(RecordFailedAttempt(sender, {"a@example.com"}, message), ZelmError);
}

} // namespace
} // namespace zelm
