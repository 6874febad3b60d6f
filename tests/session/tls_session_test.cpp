// Whole sessions with mailboxes that ask for TLS and AUTH, against fake servers that get it
// wrong: each case ends its conversation with an error-log line that says why, sends nothing
// secret in the clear, and the session goes on with the next mailbox and ends normally.
#include <gtest/gtest.h>

#include "core/config_store.h"
#include "core/schema.h"
#include "messages/data_file.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session.h"
#include "session/session_driver.h"
#include "tests/support/fake_server.h"
#include "tests/support/short_limits.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::ScriptStep;
using test::TlsIdentity;
namespace script = test::script;
using test::script::Then;

constexpr const char* kHostile = "a-hostile";
constexpr const char* kNext = "b-next";

// The login of user "me", an empty mailbox and QUIT.
std::vector<ScriptStep> EmptyMailbox() {
    return {
        script::Send("+OK ready\r\n"), script::Expect("USER me\r\n"), script::Send("+OK\r\n"),
        script::Expect("PASS pw\r\n"), script::Send("+OK\r\n"),       script::Expect("STAT \r\n"),
        script::Send("+OK 0 0\r\n"),   script::Expect("QUIT\r\n"),    script::Send("+OK bye\r\n")};
}

std::vector<ScriptStep> Ehlo(const std::string& capabilities) {
    return {script::Send("220 fake\r\n"), script::Expect("EHLO 127.0.0.1\r\n"),
            script::Send("250-fake\r\n" + capabilities)};
}

struct HostileCase {
    const char* name;
    // The hostile mailbox's values beyond an enabled POP3 account on loopback.
    std::vector<std::pair<const char*, std::string>> settings;
    // The hostile mailbox's POP3 server; with an SMTP script its outbox holds one message.
    std::vector<ScriptStep> pop3;
    std::vector<ScriptStep> smtp;
    // The error log's texts, without timestamps.
    std::vector<std::string> errors;
    // What must not reach the hostile server in any form.
    std::vector<std::string> neverSent = {"USER", "PASS"};
};

std::vector<HostileCase> Cases() {
    const test::TestCa& ca = test::TestCa::Get();
    const TlsIdentity other = ca.Issue("mail.example.org", {"DNS:mail.example.org"});
    const TlsIdentity expired = ca.Issue("localhost", {"IP:127.0.0.1"}, true);
    const TlsIdentity trusted = ca.Issue("localhost", {"IP:127.0.0.1"});
    const TlsIdentity unknown = test::SelfSignedIdentity();
    const std::vector<std::pair<const char*, std::string>> tls = {{schema::Pop3Security, "tls"}};
    const auto refused = [](const TlsIdentity& identity) {
        return std::vector<ScriptStep>{script::StartTls(identity), script::ExpectClose()};
    };
    const auto notAccepted = [](const std::string& why, const TlsIdentity& identity,
                                const std::string& subject = "localhost") {
        return "Pop3 TLS: certificate not accepted: " + why + "; subject CN=" + subject +
               "; SHA-256 fingerprint " + identity.fingerprint;
    };
    return {
        {"WrongHostName",
         {{schema::Pop3Security, "tls"}, {schema::Host, "localhost"}},
         refused(other),
         {},
         {notAccepted("hostname mismatch", other, "mail.example.org")}},
        {"ExpiredCertificate",
         tls,
         refused(expired),
         {},
         {notAccepted("certificate has expired", expired)}},
        {"UnknownCaWithoutPin",
         tls,
         refused(unknown),
         {},
         {notAccepted("self-signed certificate", unknown)}},
        {"MatchingPin",
         {{schema::Pop3Security, "tls"}, {schema::Pop3CertFingerprint, unknown.fingerprint}},
         Then({script::StartTls(unknown)}, EmptyMailbox()),
         {},
         {},
         {}},
        {"WrongPin",
         {{schema::Pop3Security, "tls"}, {schema::Pop3CertFingerprint, trusted.fingerprint}},
         refused(unknown),
         {},
         {notAccepted("self-signed certificate (and it is not the accepted one)", unknown)}},
        {"StlsRefused",
         {{schema::Pop3Security, "starttls"}},
         {script::Send("+OK ready\r\n"), script::Expect("STLS\r\n"),
          script::Send("-ERR not supported\r\n"), script::ExpectClose()},
         {},
         {"Pop3 STLS: -ERR not supported\r\n"}},
        {"ClosesMidHandshake",
         tls,
         {script::Silent(100), script::Close()},
         {},
         {"Pop3 TLS: handshake failed: the server closed the connection"}},
        {"NeverAnswersHandshake",
         tls,
         {script::Silent(5000)},
         {},
         {"Pop3 TLS: handshake failed: no answer from the server within 1500 ms"}},
        {"StartTlsNotOffered",
         {{schema::SMTPSecurity, "starttls"}},
         EmptyMailbox(),
         Then(Ehlo("250 SIZE 1000\r\n"),
              {script::Expect("QUIT\r\n"), script::Send("221 bye\r\n"), script::ExpectClose()}),
         {"SMTP STARTTLS: the server does not offer STARTTLS"},
         {"AUTH", "MAIL FROM"}},
        {"AuthRefused",
         {{schema::SMTPSecurity, "tls"}, {schema::SMTPAuth, "1"}, {schema::SMTPUserID, "me"}},
         EmptyMailbox(),
         Then(Then({script::StartTls(trusted)}, Ehlo("250 AUTH PLAIN\r\n")),
              {script::ReadUntil("\r\n"), script::Send("535 5.7.8 no\r\n"),
               script::Expect("QUIT\r\n"), script::Send("221 bye\r\n")}),
         {"SMTP AUTH: 535 5.7.8 no\r\n"},
         {"MAIL FROM"}},
        {"AuthOfferedOnlyWithoutTls",
         {{schema::SMTPAuth, "1"}, {schema::SMTPUserID, "me"}},
         EmptyMailbox(),
         Then(Ehlo("250 AUTH PLAIN LOGIN\r\n"),
              {script::Expect("QUIT\r\n"), script::Send("221 bye\r\n"), script::ExpectClose()}),
         {"SMTP AUTH: not sent, the connection is not encrypted"},
         {"AUTH", "MAIL FROM"}},
    };
}

class TlsSessionTest : public ::testing::TestWithParam<HostileCase> {
protected:
    TlsSessionTest() {
        t.ui.headerFieldNames = BuiltInHeaderFieldList();
        test::ShortenLimits(pop3.connection, 1500, 1500);
        test::ShortenLimits(smtp.smtp, 1500, 1500);
    }

    void AddMailbox(const std::string& name, int port) {
        WriteRegBool(t.db, MailboxKeyPath(name), schema::MailboxEnabled, true);
        Set(name, schema::Host, "127.0.0.1");
        Set(name, schema::Port, std::to_string(port));
        Set(name, schema::UserID, "me");
        Set(name, schema::Password, ScramblePassword("pw"));
    }
    void Set(const std::string& mailbox, const std::string& name, const std::string& value) {
        WriteRegString(t.db, MailboxKeyPath(mailbox), name, value);
    }

    static std::vector<std::string> Texts(const std::vector<std::string>& lines) {
        std::vector<std::string> texts;
        for (const auto& line : lines)
            texts.push_back(line.substr(21, line.size() - 23));
        return texts;
    }

    const test::TrustOnly trust{test::TestCa::Get().File()};
    test::TestContext t;
    Pop3Client pop3{t.context};
    SmtpSender smtp{t.context};
    ProcessingSession session{t.context, pop3, smtp};
};

TEST_P(TlsSessionTest, EndsTheConversationAndGoesOn) {
    const HostileCase& c = GetParam();
    FakeServer hostilePop3(c.pop3);
    FakeServer next(EmptyMailbox());
    AddMailbox(kHostile, hostilePop3.Port());
    AddMailbox(kNext, next.Port());
    std::unique_ptr<FakeServer> hostileSmtp;
    const std::string outbox = OutboxFolder(t.home.Path(), kHostile);
    if (!c.smtp.empty()) {
        hostileSmtp = std::make_unique<FakeServer>(c.smtp);
        Set(kHostile, schema::SMTPHost, "127.0.0.1");
        Set(kHostile, schema::SMTPPort, std::to_string(hostileSmtp->Port()));
        Set(kHostile, schema::SMTPFrom, "me@example.org");
        Set(kHostile, schema::SMTPPassword, ScramblePassword("smtp-secret"));
        EnsureOutboxFolder(outbox);
        WriteOutboxMessage(outbox,
                           OutboxMessage{0, {"you@example.net"}, {"Subject: waiting", "", "text"}});
    }
    for (const auto& [name, value] : c.settings) {
        if (name == std::string(schema::SMTPAuth)) {
            WriteRegBool(t.db, MailboxKeyPath(kHostile), name, true);
        } else {
            Set(kHostile, name, value);
        }
    }

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);

    EXPECT_EQ(Texts(t.ui.errorLines), c.errors);
    const auto sessionTexts = Texts(t.ui.sessionLines);
    EXPECT_NE(std::find(sessionTexts.begin(), sessionTexts.end(),
                        "Summary(b-next): Tot:0 New:0 Big:0 Acc:0 Rej:0 Flt:0"),
              sessionTexts.end());
    EXPECT_EQ(sessionTexts.back(), "Session End");
    EXPECT_TRUE(hostilePop3.Finish()) << hostilePop3.Failure();
    EXPECT_TRUE(next.Finish()) << next.Failure();
    FakeServer& hostile = hostileSmtp ? *hostileSmtp : hostilePop3;
    if (hostileSmtp) {
        EXPECT_TRUE(hostileSmtp->Finish()) << hostileSmtp->Failure();
    }
    for (const auto& text : c.neverSent)
        EXPECT_EQ(hostile.Received().find(text), std::string::npos) << text;
    if (hostileSmtp) {
        const auto files = ListOutboxFiles(outbox);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(ReadOutboxMessage(files[0]).attempts, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Hostile, TlsSessionTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(MailboxSecurityTest, UnknownSecurityPassesTheMailboxOverNeverPlain) {
    test::TestContext t;
    t.ui.headerFieldNames = BuiltInHeaderFieldList();
    Pop3Client pop3{t.context};
    SmtpSender smtp{t.context};
    ProcessingSession session{t.context, pop3, smtp};
    FakeServer server({});
    WriteRegBool(t.db, MailboxKeyPath("box"), schema::MailboxEnabled, true);
    WriteRegString(t.db, MailboxKeyPath("box"), schema::Host, "127.0.0.1");
    WriteRegString(t.db, MailboxKeyPath("box"), schema::UserID, "me");
    WriteRegString(t.db, MailboxKeyPath("box"), schema::Port, std::to_string(server.Port()));
    WriteRegString(t.db, MailboxKeyPath("box"), schema::Pop3Security, "ssl");

    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);
    ASSERT_EQ(t.ui.errorLines.size(), 1u);
    EXPECT_EQ(
        t.ui.errorLines[0].substr(21),
        "Mailbox box: Pop3Security \"ssl\" is none of \"none\", \"starttls\" and \"tls\"\r\n");
    server.Finish(200);
    EXPECT_EQ(server.Connections(), 0);
}

TEST(MailboxSecurityTest, SettingsReadWithTheirDefaults) {
    test::TestContext t;
    const std::string key = MailboxKeyPath("box");
    WriteRegBool(t.db, key, schema::MailboxEnabled, true);
    MailboxSettings settings = ReadMailboxSettings(t.db, "box");
    EXPECT_EQ(settings.pop3Security, ConnectionSecurity::None);
    EXPECT_EQ(settings.smtpSecurity, ConnectionSecurity::None);
    EXPECT_FALSE(settings.smtpAuth);
    EXPECT_EQ(settings.port, 110);
    EXPECT_EQ(settings.smtpPort, 25);

    WriteRegString(t.db, key, schema::Pop3Security, "TLS");
    WriteRegString(t.db, key, schema::SMTPSecurity, "tls");
    WriteRegBool(t.db, key, schema::SMTPAuth, true);
    WriteRegString(t.db, key, schema::SMTPUserID, "sender");
    WriteRegString(t.db, key, schema::SMTPPassword, ScramblePassword("abc"));
    settings = ReadMailboxSettings(t.db, "box");
    EXPECT_EQ(settings.pop3Security, ConnectionSecurity::Tls);
    // Without a stored port, TLS from the first byte means the usual TLS ports.
    EXPECT_EQ(settings.port, 995);
    EXPECT_EQ(settings.smtpPort, 465);
    EXPECT_TRUE(settings.smtpAuth);
    EXPECT_EQ(settings.smtpUserId, "sender");
    EXPECT_EQ(settings.smtpPassword, "abc");

    // A stored port is used as it stands.
    WriteRegString(t.db, key, schema::Port, "110");
    WriteRegString(t.db, key, schema::SMTPSecurity, "starttls");
    settings = ReadMailboxSettings(t.db, "box");
    EXPECT_EQ(settings.port, 110);
    EXPECT_EQ(settings.smtpSecurity, ConnectionSecurity::StartTls);
    EXPECT_EQ(settings.smtpPort, 25);
}

} // namespace
} // namespace zelm
