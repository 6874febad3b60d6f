#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/config_store.h"
#include "core/schema.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session.h"
#include "session/session_driver.h"
#include "tests/support/real_servers.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_home.h"

// Whole sessions against the real Dovecot (users u25 to u36) and the real SMTP sink: screening
// responses and filter actions as a user meets them, checked on the servers' side, plain and
// over TLS.
namespace zelm {
namespace {

using test::RealMailbox;
using test::SpoolMessage;

constexpr const char* kMailbox = "box";

// A text no other test (or earlier run against the same servers) puts into the spool.
std::string UniqueToken(const std::string& name) {
    static int counter = 0;
    return name + "-" + std::to_string(::getpid()) + "-" + std::to_string(std::time(nullptr)) +
           "-" + std::to_string(++counter);
}

std::string MessageText(const std::string& from, const std::string& subject,
                        const std::string& extraHeader = "",
                        const std::string& body = "Hello.\r\n") {
    return "From: " + from + "\r\nTo: me@home.example\r\nSubject: " + subject + "\r\n" +
           extraHeader + "\r\n" + body;
}

class EngineEndToEndTest : public ::testing::Test {
protected:
    EngineEndToEndTest() { t.ui.headerFieldNames = BuiltInHeaderFieldList(); }

    /// The user's maildir emptied, and the mailbox "box" set up to read it and to send
    /// through the real SMTP sink.
    RealMailbox UseMailbox(const std::string& user) {
        RealMailbox mailbox(user);
        mailbox.Clear();
        WriteRegBool(t.db, MailboxKeyPath(kMailbox), schema::MailboxEnabled, true);
        Set(schema::Host, "127.0.0.1");
        Set(schema::Port, std::to_string(test::RealPop3Port()));
        Set(schema::UserID, user);
        Set(schema::Password, ScramblePassword(test::kRealPassword));
        Set(schema::SMTPHost, "127.0.0.1");
        Set(schema::SMTPPort, std::to_string(test::RealSmtpPort()));
        Set(schema::SMTPFrom, "Zelm <zelm@home.example>");
        return mailbox;
    }
    void Set(const std::string& name, const std::string& value) {
        WriteRegString(t.db, MailboxKeyPath(kMailbox), name, value);
    }
    void SetFlag(const std::string& name, bool flag) {
        WriteRegBool(t.db, MailboxKeyPath(kMailbox), name, flag);
    }
    void SetList(std::string_view section, const std::vector<std::string>& lines) {
        WriteSection(DataFilePath(t.home.Path(), kMailbox), section, lines);
    }
    /// A filter matching every message whose subject holds text, appended to "Operation".
    void AddFilter(const std::string& filter, const std::string& subjectText,
                   const std::string& actions) {
        m_operation += filter + "\r\n";
        Set(schema::Operation, m_operation);
        const auto key = FilterKeyPath(kMailbox, filter);
        WriteRegString(t.db, key, schema::Rules,
                       "      Subject contains `" + subjectText + "`\r\n");
        WriteRegString(t.db, key, schema::Actions, actions);
    }
    void SetFilterValue(const std::string& filter, const std::string& name,
                        const std::string& value) {
        WriteRegString(t.db, FilterKeyPath(kMailbox, filter), name, value);
    }

    void Run() {
        ASSERT_EQ(RunSession(session), SessionOutcome::Ran);
        for (const auto& line : t.ui.errorLines)
            ADD_FAILURE() << "error log: " << line;
    }

    /// The session log's texts between "Connected to" and the summary line.
    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& line : t.ui.sessionLines) {
            const auto text = line.substr(21, line.size() - 23);
            if (text.rfind(" ", 0) == 0) texts.push_back(text);
        }
        return texts;
    }
    std::string SummaryText() const {
        for (const auto& line : t.ui.sessionLines) {
            if (line.find("Summary(") != std::string::npos)
                return line.substr(21, line.size() - 23);
        }
        return {};
    }

    test::TestContext t;
    Pop3Client pop3{t.context};
    SmtpSender smtp{t.context};
    ProcessingSession session{t.context, pop3, smtp};

private:
    std::string m_operation;
};

TEST_F(EngineEndToEndTest, AcceptListBeatsRejectList) {
    const auto mailbox = UseMailbox("u25");
    const auto token = UniqueToken("accept");
    mailbox.Drop(MessageText("Alice <alice@example.org>", token));
    SetList(kSectionAcceptList, {"ALICE"});
    SetList(kSectionRejectList, {"example.org"});
    SetFlag(schema::DeleteEnabled, true);
    AddFilter("all", token, "Delete message\r\n");

    Run();

    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{" Msg: Alice <alice@example.org>(" + token + ")",
                                        " - accepted"}));
    EXPECT_EQ(SummaryText(), "Summary(box): Tot:1 New:1 Big:0 Acc:1 Rej:0 Flt:0");
    EXPECT_EQ(mailbox.Count(), 1U);
}

TEST_F(EngineEndToEndTest, RejectByReplyToAloneDeletesTheMessage) {
    const auto mailbox = UseMailbox("u26");
    const auto token = UniqueToken("replyto");
    mailbox.Drop(MessageText("Friend <friend@good.example>", token,
                             "Reply-To: <collector@" + token + ".example>\r\n"));
    mailbox.Drop(MessageText("Friend <friend@good.example>", token + " kept"));
    SetList(kSectionRejectList, {token + ".EXAMPLE"});
    SetFlag(schema::DeleteEnabled, true);

    Run();

    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{" Msg: Friend <friend@good.example>(" + token + ")",
                                        " - rejected (deleted)",
                                        " Msg: Friend <friend@good.example>(" + token + " kept)"}));
    EXPECT_EQ(SummaryText(), "Summary(box): Tot:2 New:2 Big:0 Acc:0 Rej:1 Flt:0");
    EXPECT_EQ(mailbox.Count(), 1U) << "the rejected message is gone after QUIT";
}

TEST_F(EngineEndToEndTest, ForwardReturnAndDeleteAreLoggedInOrder) {
    const auto mailbox = UseMailbox("u27");
    const auto token = UniqueToken("responses");
    const std::string sender = "sender-" + token + "@spam.example";
    const std::string archive = "archive-" + token + "@home.example";
    mailbox.Drop(MessageText("<" + sender + ">", token, "", "Buy.\r\n.dotted line\r\n"));
    SetList(kSectionRejectList, {"spam.example"});
    SetFlag(schema::ForwardToEnabled, true);
    Set(schema::ForwardAddress, archive);
    SetFlag(schema::BounceEnabled, true);
    SetFlag(schema::DeleteEnabled, true);

    Run();

    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                  " Msg: <" + sender + ">(" + token + ")",
                                  " - sent msg to " + archive,
                                  " - rejected (forwarded to " + archive + ")",
                                  " - sent msg to " + sender,
                                  " - rejected (returned to <" + sender + ">)",
                                  " - rejected (deleted)",
                              }));
    EXPECT_EQ(mailbox.Count(), 0U);
    auto spool = test::WaitForSpoolMessages(token, 2);
    ASSERT_EQ(spool.size(), 2U);
    std::sort(spool.begin(), spool.end(), [](const SpoolMessage& a, const SpoolMessage& b) {
        return a.recipients < b.recipients;
    });
    EXPECT_EQ(spool[0].recipients, std::vector<std::string>{archive});
    EXPECT_EQ(spool[1].recipients, std::vector<std::string>{sender});
    for (const auto& message : spool) {
        EXPECT_EQ(message.mailFrom, "zelm@home.example");
        EXPECT_NE(message.data.find("\r\n\r\nBuy.\r\n.dotted line\r\n"), std::string::npos)
            << message.data;
    }
}

TEST_F(EngineEndToEndTest, CustomReplyGoesToEachRejectedSenderOnly) {
    const auto mailbox = UseMailbox("u28");
    const auto token = UniqueToken("custom");
    const std::string first = "first-" + token + "@spam.example";
    const std::string second = "second-" + token + "@spam.example";
    mailbox.Drop(MessageText(first, "one"));
    mailbox.Drop(MessageText(second, "two"));
    SetList(kSectionRejectList, {"spam.example"});
    SetList(kSectionRejectText,
            {"From: postmaster@home.example", "Subject: " + token + " refused: {Subject}", "",
             "Your message was not delivered."});
    SetFlag(schema::BounceEnabled, true);

    Run();

    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                  " Msg: " + first + "(one)", " - sent msg to " + first,
                                  " - rejected (returned with custom msg to " + first + ")",
                                  " Msg: " + second + "(two)", " - sent msg to " + second,
                                  " - rejected (returned with custom msg to " + second + ")"}));
    const auto spool = test::WaitForSpoolMessages(token, 2);
    ASSERT_EQ(spool.size(), 2U);
    for (const auto& [message, own, other] :
         {std::tuple{spool[0], first, second}, std::tuple{spool[1], second, first}}) {
        EXPECT_EQ(message.recipients, std::vector<std::string>{own});
        EXPECT_NE(message.data.find("\r\nTo: " + own + "\r\n"), std::string::npos) << message.data;
        EXPECT_EQ(message.data.find(other), std::string::npos) << message.data;
    }
    EXPECT_NE(spool[0].data.find("refused: one\r\n"), std::string::npos);
    EXPECT_FALSE(t.home.Exists("zelmb$$$.$$$"));
}

TEST_F(EngineEndToEndTest, DeleteThenStopSkipsSendMsgAndLaterFilters) {
    const auto mailbox = UseMailbox("u29");
    const auto token = UniqueToken("stop");
    mailbox.Drop(MessageText("someone@example.com", token));
    t.home.Write("m00001.dat", "From: zelm@home.example\r\nSubject: " + token +
                                   "\r\nTo: never@example.com\r\nCc: \r\n\r\nNo.\r\n");
    t.home.Write("d00001.dat", "later.txt\r\n{Subject}\r\n");
    AddFilter("first", token,
              "Delete message\r\nStop (go to next message)\r\nSend msg: m00001\r\n");
    AddFilter("second", token, "Save data: d00001\r\n");

    Run();

    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{" Msg: someone@example.com(" + token + ")", " - deleted"}));
    EXPECT_EQ(SummaryText(), "Summary(box): Tot:1 New:1 Big:0 Acc:0 Rej:0 Flt:1");
    EXPECT_EQ(mailbox.Count(), 0U);
    EXPECT_FALSE(t.home.Exists("later.txt"));
    for (const auto& message : test::ReadSmtpSpool()) {
        EXPECT_EQ(message.data.find(token), std::string::npos) << "a message was sent";
    }
}

TEST_F(EngineEndToEndTest, ForwardToSenderAndAnotherAddress) {
    const auto mailbox = UseMailbox("u30");
    const auto token = UniqueToken("fwd");
    const std::string sender = "from-" + token + "@example.net";
    const std::string other = "someone-" + token + "@example.com";
    mailbox.Drop(MessageText("Sender <" + sender + ">", token));
    AddFilter("fwd", token, "Fwd to: {From}, " + other + "\r\n");

    Run();

    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{" Msg: Sender <" + sender + ">(" + token + ")",
                                        " - sent msg to " + sender + "," + other}));
    const auto spool = test::WaitForSpoolMessages(token, 1);
    ASSERT_EQ(spool.size(), 1U);
    EXPECT_EQ(spool[0].recipients, (std::vector<std::string>{sender, other}));
    EXPECT_EQ(spool[0].data.rfind("From: Sender <" + sender + ">\r\n", 0), 0U);
    EXPECT_EQ(mailbox.Count(), 1U);
}

// The secure set-up of a provider account: POP3 over TLS (from the first byte, or STLS) and the
// forward sent with AUTH over STARTTLS or TLS from the first byte.
TEST_F(EngineEndToEndTest, SecureMailboxesReadAndForwardOverTls) {
    const test::TrustOnly trust(test::RealCaFile());
    const struct {
        const char* user;
        const char* pop3Security;
        int pop3Port;
        const char* smtpSecurity;
        int smtpPort;
    } ways[] = {{"u35", "tls", test::RealPop3sPort(), "starttls", test::RealSmtpStartTlsPort()},
                {"u36", "starttls", test::RealPop3Port(), "tls", test::RealSmtpsPort()}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.user);
        t.ui.sessionLines.clear();
        // Another user's message may carry the same id: start with an empty Cache.
        std::remove(DataFilePath(t.home.Path(), kMailbox).c_str());
        const auto mailbox = UseMailbox(way.user);
        Set(schema::Host, "localhost");
        Set(schema::Pop3Security, way.pop3Security);
        Set(schema::Port, std::to_string(way.pop3Port));
        Set(schema::SMTPHost, "localhost");
        Set(schema::SMTPSecurity, way.smtpSecurity);
        Set(schema::SMTPPort, std::to_string(way.smtpPort));
        SetFlag(schema::SMTPAuth, true);
        Set(schema::SMTPUserID, test::kRealSmtpUser);
        Set(schema::SMTPPassword, ScramblePassword(test::kRealSmtpPassword));
        const auto token = UniqueToken("tls");
        const std::string sender = "from-" + token + "@example.net";
        mailbox.Drop(MessageText("Sender <" + sender + ">", token));
        AddFilter(std::string("fwd-") + way.user, token, "Fwd to: {From}\r\n");

        Run();

        EXPECT_EQ(MessageTexts(),
                  (std::vector<std::string>{" Msg: Sender <" + sender + ">(" + token + ")",
                                            " - sent msg to " + sender}));
        const auto spool = test::WaitForSpoolMessages(token, 1);
        ASSERT_EQ(spool.size(), 1U);
        EXPECT_EQ(spool[0].recipients, (std::vector<std::string>{sender}));
    }
}

TEST_F(EngineEndToEndTest, SendMsgAttachmentDecodesByteForByte) {
    const auto mailbox = UseMailbox("u31");
    const auto token = UniqueToken("attach");
    mailbox.Drop(MessageText("Customer <customer-" + token + "@example.com>", token));
    // Every byte value, in an order that gives partial last groups in base64.
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += static_cast<char>((i * 37 + i / 256) % 256);
    t.home.Write("Price List.bin", bytes);
    t.home.Write("m00001.dat", "From: shop@home.example\r\nSubject: Re: {Subject}\r\n"
                               "To: {From}\r\nCc: \r\n\r\nAttachment: " +
                                   t.home.File("Price List.bin") +
                                   "\r\nDear customer,\r\n.here it is.\r\n");
    AddFilter("reply", token, "Send msg: m00001\r\n");

    Run();

    const auto spool = test::WaitForSpoolMessages(token, 1);
    ASSERT_EQ(spool.size(), 1U);
    EXPECT_EQ(spool[0].recipients, std::vector<std::string>{"customer-" + token + "@example.com"});
    const auto eml = test::RealSmtpSpool() + "/" + spool[0].name + ".eml";
    const auto decoded = t.home.File("decoded.bin");
    const auto report = t.home.File("report.txt");
    const std::string python =
        "import email, sys\n"
        "from email import policy\n"
        "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=policy.default)\n"
        "parts = list(m.iter_attachments())\n"
        "open(sys.argv[2], 'wb').write(parts[0].get_payload(decode=True))\n"
        "body = m.get_body(('plain',)).get_content()\n"
        "open(sys.argv[3], 'w').write('%d|%s|%s|%s' % (len(parts), parts[0].get_filename(),\n"
        "    m.get_content_type(), body))\n";
    t.home.Write("decode.py", python);
    const std::string command = "/usr/bin/python3 '" + t.home.File("decode.py") + "' '" + eml +
                                "' '" + decoded + "' '" + report + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(t.home.Read("decoded.bin"), bytes);
    EXPECT_EQ(t.home.Read("report.txt"),
              "1|Price List.bin|multipart/mixed|Dear customer,\n.here it is.");
}

TEST_F(EngineEndToEndTest, SaveDataAppendsEachSubject) {
    const auto mailbox = UseMailbox("u32");
    const auto token = UniqueToken("save");
    mailbox.Drop(MessageText("a@example.com", token + " first"));
    mailbox.Drop(MessageText("b@example.com", token + " second"));
    t.home.Write("d00001.dat", "subjects.txt\r\n{Subject}\r\n");
    AddFilter("save", token, "Save data: d00001\r\n");

    Run();

    EXPECT_EQ(t.home.Read("subjects.txt"), token + " first\r\n" + token + " second\r\n");
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{" Msg: a@example.com(" + token + " first)",
                                                        " - msg data to file subjects.txt",
                                                        " Msg: b@example.com(" + token + " second)",
                                                        " - msg data to file subjects.txt"}));
}

TEST_F(EngineEndToEndTest, ExternalProgramReceivesThePathOfTheMessageFile) {
    const auto mailbox = UseMailbox("u33");
    const auto token = UniqueToken("prog");
    const auto text = MessageText("a@example.com", token, "", "Line one.\r\n..two dots\r\n");
    mailbox.Drop(text);
    t.home.Write("Handle Mail.sh", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > args.txt\n"
                                   "cp \"$1\" copy.eml\n");
    const auto program = t.home.File("Handle Mail.sh");
    ::chmod(program.c_str(), 0755);
    AddFilter("prog", token, "Ext prog: " + program + "\r\n");

    Run();

    EXPECT_EQ(t.home.Read("args.txt"), "1\n" + t.home.File("zelm.dat") + "\n");
    // The message as the server holds it, dot-stuffing undone.
    EXPECT_EQ(t.home.Read("copy.eml"), text);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{" Msg: a@example.com(" + token + ")",
                                                        " - msg to ext prog " + program}));
}

TEST_F(EngineEndToEndTest, ExtractedVariableIsUsedByTheFollowingSaveData) {
    const auto mailbox = UseMailbox("u34");
    const auto token = UniqueToken("extract");
    mailbox.Drop(MessageText("shop@example.com", token, "",
                             "Thank you.\r\nOrder number: 4711-X \r\nBye.\r\n"));
    t.home.Write("d00001.dat", "orders.txt\r\n{Order} ({Subject})\r\n");
    AddFilter("orders", token, "Extract text from body\r\nSave data: d00001\r\n");
    SetFilterValue("orders", schema::TextExtract,
                   "Go to string in msg: Order number:\r\nForward # of chars: 13\r\n"
                   "Text extraction start (Order)\r\nGo to line end\r\n"
                   "Text extraction end (Order)\r\n");
    SetFilterValue("orders", schema::TextVarNames, "Order\r\n");

    Run();

    EXPECT_EQ(t.home.Read("orders.txt"), "4711-X (" + token + ")\r\n");
}

} // namespace
} // namespace zelm
