#include "protocols/smtp.h"

#include <gtest/gtest.h>

#include <ostream>

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

const char* const kSmtpFailure = "SMTP: Unable to read data from Socket";
const std::vector<std::string> kMessage = {"Subject: test", "", "Hello", ".", "..two", "x.y", ""};
const std::string kStuffedData = "Subject: test\r\n\r\nHello\r\n..\r\n...two\r\nx.y\r\n\r\n.\r\n";

/// Log lines without their timestamp and final CR LF.
std::vector<std::string> Texts(const std::vector<std::string>& lines) {
    std::vector<std::string> texts;
    for (const auto& line : lines)
        texts.push_back(line.substr(21, line.size() - 23));
    return texts;
}

/// The server's side of a dialogue up to the sender, with the greeting and HELO accepted.
std::vector<ScriptStep> Opening() {
    return {script::Send("220 fake ready\r\n"), script::Expect("HELO 127.0.0.1\r\n"),
            script::Send("250 hello\r\n"), script::Expect("MAIL FROM:<me@example.org>\r\n"),
            script::Send("250 sender ok\r\n")};
}

std::vector<ScriptStep> Join(std::vector<ScriptStep> first, const std::vector<ScriptStep>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

std::vector<ScriptStep> Recipient(const std::string& address, const std::string& reply) {
    return {script::Expect("RCPT TO:<" + address + ">\r\n"), script::Send(reply)};
}

std::vector<ScriptStep> DataAccepted() {
    return {script::Expect("DATA\r\n"), script::Send("354 go ahead\r\n"),
            script::Expect(kStuffedData), script::Send("250 queued\r\n")};
}

std::vector<ScriptStep> Quit(const std::string& reply = "221 bye\r\n") {
    return {script::Expect("QUIT\r\n"), script::Send(reply), script::ExpectClose()};
}

class SmtpTest : public ::testing::Test {
protected:
    SmtpTest() {
        env.context.log.OpenSessionLogs();
        env.context.currentMailbox = "Office";
        sender.host = "127.0.0.1";
        sender.senderAddress = "me@example.org";
        ShortenLimits(sender.smtp);
    }

    void Send(const FakeServer& server, const std::vector<std::string>& recipients,
              const std::vector<std::string>& message = kMessage) {
        sender.port = server.Port();
        SmtpSendMessage(sender, recipients, message);
    }

    std::vector<OutboxMessage> Outbox() const {
        std::vector<OutboxMessage> messages;
        for (const auto& path : ListOutboxFiles(OutboxFolder(env.context.programDir, "Office")))
            messages.push_back(ReadOutboxMessage(path));
        return messages;
    }

    test::TestContext env;
    SmtpSender sender{env.context};
};

struct DialogueCase {
    const char* name;
    std::vector<ScriptStep> script;
    std::vector<std::string> recipients;
    SendStatus status;
    std::vector<std::string> sessionTexts;
    std::vector<std::string> errorTexts;
    /// Recipients of the one outbox file expected; nullopt when none may be written.
    std::optional<std::vector<std::string>> stored;
};

const std::string kRetry = " - attempt 1 (will try again)";

std::vector<DialogueCase> DialogueCases() {
    const std::vector<std::string> two = {"a@example.com", "b@example.com"};
    return {
        {"Sent",
         Join(Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                        Recipient("b@example.com", "250 ok\r\n")),
                   DataAccepted()),
              Quit()),
         two,
         SendStatus::Sent,
         {" - sent msg to a@example.com,b@example.com"},
         {},
         std::nullopt},
        {"GreetingRejected",
         Join({script::Send("554 no service\r\n")}, Quit()),
         two,
         SendStatus::Failed,
         {" - msg to a@example.com,b@example.com not sent: 554 no service\r\n" + kRetry},
         {"SMTP Open: 554 no service\r\n"},
         two},
        {"HeloRejected",
         Join({script::Send("220 ready\r\n"), script::Expect("HELO 127.0.0.1\r\n"),
               script::Send("501 bad\r\n")},
              Quit()),
         two,
         SendStatus::Failed,
         {" - msg to a@example.com,b@example.com not sent: 501 bad\r\n" + kRetry},
         {"SMTP HELO: 501 bad\r\n"},
         two},
        {"SenderRejected",
         Join({script::Send("220 ready\r\n"), script::Expect("HELO 127.0.0.1\r\n"),
               script::Send("250 hello\r\n"), script::Expect("MAIL FROM:<me@example.org>\r\n"),
               script::Send("553 not you\r\n")},
              Quit("500 whatever\r\n")),
         {"a@example.com"},
         SendStatus::Failed,
         {" - msg to a@example.com not sent: 553 not you\r\n" + kRetry},
         {"SMTP FROM: 553 not you\r\n"},
         std::vector<std::string>{"a@example.com"}},
        // The first refused recipient ends the dialogue; the whole list is kept for the retry.
        {"SecondRecipientRejected",
         Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                   Recipient("b@example.com", "550 no such user\r\n")),
              Quit()),
         two,
         SendStatus::Failed,
         {" - msg to a@example.com,b@example.com not sent: 550 no such user\r\n" + kRetry},
         {"SMTP TO: 550 no such user\r\n"},
         two},
        {"DataRejected",
         Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                   {script::Expect("DATA\r\n"), script::Send("451 later\r\n")}),
              Quit()),
         {"a@example.com"},
         SendStatus::Failed,
         {" - msg to a@example.com not sent: 451 later\r\n" + kRetry},
         {"SMTP DATA: 451 later\r\n"},
         std::vector<std::string>{"a@example.com"}},
        {"MessageRejectedAfterDot",
         Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                   {script::Expect("DATA\r\n"), script::Send("354 go\r\n"),
                    script::Expect(kStuffedData), script::Send("552 too big\r\n")}),
              Quit()),
         {"a@example.com"},
         SendStatus::Failed,
         {" - msg to a@example.com not sent: 552 too big\r\n" + kRetry},
         {"SMTP .: 552 too big\r\n"},
         std::vector<std::string>{"a@example.com"}},
        // A "250" after the dot is a delivery: a strange QUIT reply must not send it twice.
        {"QuitRejectedAfterDelivery",
         Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")), DataAccepted()),
              Quit("421 closing\r\n")),
         {"a@example.com"},
         SendStatus::Sent,
         {" - sent msg to a@example.com"},
         {"SMTP QUIT: 421 closing\r\n"},
         std::nullopt},
        {"ConnectionClosedInsteadOfQuitReply",
         Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
              Join(DataAccepted(), {script::Expect("QUIT\r\n"), script::Close()})),
         {"a@example.com"},
         SendStatus::Sent,
         {" - sent msg to a@example.com"},
         {kSmtpFailure, "SMTP QUIT: "},
         std::nullopt},
        // Replies of several lines are read to their last line, so the dialogue stays in step.
        {"MultiLineRepliesSplitAcrossSegments",
         {script::SendSegments({"220-fake.example ESMTP\r\n220-", "more text\r\n220 ready\r\n"}),
          script::Expect("HELO 127.0.0.1\r\n"),
          script::SendSegments({"250-fake.example\r\n250-SIZE 1000\r\n", "250 HELP\r\n"}),
          script::Expect("MAIL FROM:<me@example.org>\r\n"), script::Send("250 ok\r\n"),
          script::Expect("RCPT TO:<a@example.com>\r\n"), script::Send("250 ok\r\n"),
          script::Expect("DATA\r\n"), script::Send("354 go\r\n"), script::Expect(kStuffedData),
          script::SendSegments({"25", "0 queued\r\n"}), script::Expect("QUIT\r\n"),
          script::Send("221 bye\r\n")},
         {"a@example.com"},
         SendStatus::Sent,
         {" - sent msg to a@example.com"},
         {},
         std::nullopt},
        // Without recipients DATA follows MAIL FROM and the server's reply decides.
        {"NoRecipients",
         Join(Join(Opening(), {script::Expect("DATA\r\n"), script::Send("503 need RCPT\r\n")}),
              Quit()),
         {},
         SendStatus::Failed,
         {" - msg to  not sent: 503 need RCPT\r\n" + kRetry},
         {"SMTP DATA: 503 need RCPT\r\n"},
         std::vector<std::string>{}},
        // Empty entries and addresses with line breaks never reach the envelope (nor the
        // outbox); the others still get the message.
        {"UnusableRecipientsLeftOut",
         Join(Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                        Recipient("b@example.com", "250 ok\r\n")),
                   {script::Expect("DATA\r\n"), script::Send("451 later\r\n")}),
              Quit()),
         {"", "a@example.com", "evil@example.com>\r\nRCPT TO:<x@example.net", " ",
          "c@example.com\n", "b@example.com"},
         SendStatus::Failed,
         {" - recipient dropped (line break in address): evil@example.com>  RCPT "
          "TO:<x@example.net",
          " - recipient dropped (line break in address): c@example.com ",
          " - msg to a@example.com,b@example.com not sent: 451 later\r\n" + kRetry},
         {"SMTP DATA: 451 later\r\n"},
         two},
        {"SilentServer",
         {script::Silent(3000)},
         {"a@example.com"},
         SendStatus::Failed,
         {" - msg to a@example.com not sent: " + kRetry},
         {kSmtpFailure, "SMTP Open: "},
         std::vector<std::string>{"a@example.com"}},
        {"ServerStopsMidReply",
         Join(Opening(), {script::Expect("RCPT TO:<a@example.com>\r\n"), script::Send("250 o"),
                          script::Silent(3000)}),
         {"a@example.com"},
         SendStatus::Failed,
         {" - msg to a@example.com not sent: " + kRetry},
         {kSmtpFailure, "SMTP TO: "},
         std::vector<std::string>{"a@example.com"}},
    };
}

// A row's label in CTest and in failures is its name, not a dump of its bytes.
void PrintTo(const DialogueCase& row, std::ostream* out) {
    *out << row.name;
}

class SmtpDialogueTest : public SmtpTest, public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(SmtpDialogueTest, Dialogue) {
    const DialogueCase& c = GetParam();
    FakeServer server(c.script, 3000);
    Send(server, c.recipients);
    EXPECT_TRUE(server.Finish()) << server.Failure() << "\nreceived:\n" << server.Received();
    EXPECT_EQ(sender.sendStatus, c.status);
    EXPECT_EQ(Texts(env.ui.sessionLines), c.sessionTexts);
    EXPECT_EQ(Texts(env.ui.errorLines), c.errorTexts);
    EXPECT_FALSE(sender.smtp.Active());
    const auto outbox = Outbox();
    if (!c.stored) {
        EXPECT_TRUE(outbox.empty());
        return;
    }
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].attempts, 1);
    EXPECT_EQ(outbox[0].recipients, *c.stored);
    EXPECT_EQ(outbox[0].lines, kMessage);
}

INSTANTIATE_TEST_SUITE_P(Smtp, SmtpDialogueTest, ::testing::ValuesIn(DialogueCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(SmtpTest, UnreachableServer) {
    sender.port = test::ClosedLoopbackPort();
    SmtpSendMessage(sender, {"a@example.com"}, kMessage);
    EXPECT_EQ(sender.sendStatus, SendStatus::NotReachable);
    EXPECT_EQ(Texts(env.ui.sessionLines),
              (std::vector<std::string>{" - msg to a@example.com not sent: could not connect to "
                                        "127.0.0.1" +
                                        kRetry}));
    EXPECT_EQ(Texts(env.ui.errorLines),
              (std::vector<std::string>{"SMTP Open: Could not connect to 127.0.0.1"}));
    EXPECT_EQ(Outbox().size(), 1u);
}

TEST_F(SmtpTest, SentLineFollowsTheQuitReply) {
    // The line says the whole dialogue is over: what the QUIT read wrote comes before it.
    FakeServer server(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                           Join(DataAccepted(), {script::Expect("QUIT\r\n"), script::Close()})));
    Send(server, {"a@example.com"});
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(
        Texts(env.ui.logLines),
        (std::vector<std::string>{kSmtpFailure, " - sent msg to a@example.com", "SMTP QUIT: "}));
}

TEST_F(SmtpTest, ServerClosingMidDialogueIsRecordedForRetry) {
    // Whether the next read sees the close or the reset that the DATA command provokes, the
    // step fails and the message is kept.
    FakeServer server(
        Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")), {script::Close()}));
    Send(server, {"a@example.com"});
    server.Finish();
    EXPECT_EQ(sender.sendStatus, SendStatus::Failed);
    ASSERT_FALSE(env.ui.errorLines.empty());
    EXPECT_TRUE(Texts(env.ui.errorLines).back().starts_with("SMTP DATA: "));
    EXPECT_EQ(Outbox().size(), 1u);
    EXPECT_FALSE(sender.smtp.Active());
}

TEST_F(SmtpTest, ConnectionResetDuringDataIsRecordedForRetry) {
    FakeServer server(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                           {script::Expect("DATA\r\n"), script::Send("354 go\r\n"),
                            script::ReadUntil("line 10"), script::Reset()}));
    std::vector<std::string> big(200000, std::string(70, 'x'));
    big[10] = "line 10";
    Send(server, {"a@example.com"}, big);
    server.Finish();
    EXPECT_EQ(sender.sendStatus, SendStatus::Failed);
    ASSERT_EQ(env.ui.errorLines.size(), 1u);
    EXPECT_TRUE(Texts(env.ui.errorLines)[0].starts_with("SMTP .: ")) << env.ui.errorLines[0];
    const auto outbox = Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].lines, big);
}

TEST_F(SmtpTest, LargeMessageArrivesWholeInFewWrites) {
    // Many lines, dots at every position of the batches: what arrives is exactly the stuffed
    // text, and it comes in large writes, not one per line.
    std::vector<std::string> message;
    std::string expected;
    for (int i = 0; i < 60000; ++i) {
        message.push_back(i % 3 == 0 ? "." + std::to_string(i) : std::string(40, 'a' + i % 26));
        expected += (i % 3 == 0 ? ".." + std::to_string(i) : message.back()) + "\r\n";
    }
    expected += ".\r\n";
    FakeServer server(Join(Join(Join(Opening(), Recipient("a@example.com", "250 ok\r\n")),
                                {script::Expect("DATA\r\n"), script::Send("354 go\r\n"),
                                 script::Expect(expected), script::Send("250 ok\r\n")}),
                           Quit()));
    int sends = 0;
    sender.smtp.Calls().send = [&sends](int fd, const void* data, std::size_t size, int flags) {
        ++sends;
        return ::send(fd, data, size, flags);
    };
    Send(server, {"a@example.com"}, message);
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(sender.sendStatus, SendStatus::Sent);
    EXPECT_LT(sends, 200);
}

TEST_F(SmtpTest, LineBreakInSenderNeverReachesTheServer) {
    // Not even a connection is tried: a connect would fail here and say "not reachable".
    sender.port = test::ClosedLoopbackPort();
    sender.senderAddress = "me@example.org>\r\nRCPT TO:<x@example.net";
    SmtpSendMessage(sender, {"a@example.com"}, kMessage);
    EXPECT_EQ(sender.sendStatus, SendStatus::Failed);
    EXPECT_EQ(Texts(env.ui.errorLines),
              (std::vector<std::string>{"SMTP: line break in the SMTP host or sender address: "
                                        "127.0.0.1 / me@example.org>  RCPT TO:<x@example.net"}));
    EXPECT_EQ(Outbox().size(), 1u);
}

TEST(AttemptSuffix, Table) {
    struct Case {
        int attempt;
        std::optional<std::int32_t> max;
        const char* expected;
    };
    const Case cases[] = {
        {1, 2, " - attempt 1 (will try again)"},
        {2, 2, " - attempt 2 (message deleted)"},
        {3, 3, " - attempt 3 (message deleted)"},
        {4, 3, " - attempt 4 (message deleted)"},
        {9, 0, " - attempt 9 (will try again)"},
        // A negative maximum keeps the message like 0, so the line says what happens.
        {5, -1, " - attempt 5 (will try again)"},
        {7, std::nullopt, " - attempt 7 (will try again)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(AttemptSuffix(c.attempt, c.max), c.expected);
    }
}

TEST(ReadMaxAttempts, WholeNumbersOnly) {
    test::RecordingUi ui;
    struct Case {
        const char* text;
        std::optional<std::int32_t> expected;
    };
    const Case cases[] = {{"2", 2},
                          {"0", 0},
                          {"-3", -3},
                          {"", std::nullopt},
                          {"two", std::nullopt},
                          {"3x", std::nullopt},
                          {"1.5", std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ui.maxAttemptsText = c.text;
        EXPECT_EQ(ReadMaxAttempts(ui), c.expected);
    }
}

} // namespace
} // namespace zelm
