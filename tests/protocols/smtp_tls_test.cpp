// The SMTP sender with EHLO, STARTTLS, implicit TLS and AUTH against the scripted fake
// server, and the EHLO capability parser.
#include <gtest/gtest.h>

#include "messages/data_file.h"
#include "protocols/smtp.h"
#include "protocols/smtp_capabilities.h"
#include "tests/support/fake_server.h"
#include "tests/support/short_limits.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::ScriptStep;
namespace script = test::script;
using test::script::Then;

const std::vector<std::string> kMessage = {"Subject: t", "", "hi"};

std::vector<ScriptStep> Ehlo(const std::string& capabilities) {
    return {script::Expect("EHLO 127.0.0.1\r\n"),
            script::Send("250-fake.example greets you\r\n" + capabilities)};
}

// From MAIL FROM to QUIT, the message accepted.
std::vector<ScriptStep> Delivery() {
    return {script::Expect("MAIL FROM:<me@example.org>\r\n"),
            script::Send("250 ok\r\n"),
            script::Expect("RCPT TO:<you@example.net>\r\n"),
            script::Send("250 ok\r\n"),
            script::Expect("DATA\r\n"),
            script::Send("354 go\r\n"),
            script::Expect("Subject: t\r\n\r\nhi\r\n.\r\n"),
            script::Send("250 queued\r\n"),
            script::Expect("QUIT\r\n"),
            script::Send("221 bye\r\n")};
}

std::vector<ScriptStep> QuitAfterRefusal() {
    return {script::Expect("QUIT\r\n"), script::Send("221 bye\r\n"), script::ExpectClose()};
}

struct SmtpTlsCase {
    const char* name;
    ConnectionSecurity security;
    bool auth;
    std::vector<ScriptStep> script;
    SendStatus status;
    // The error-log line without its timestamp; "" for none.
    std::string error;
};

std::vector<SmtpTlsCase> Cases() {
    const test::TlsIdentity trusted = test::TestCa::Get().Issue("localhost", {"IP:127.0.0.1"});
    const ScriptStep greeting = script::Send("220 fake ready\r\n");
    // "\0me\0secret" and the two LOGIN answers, in base64.
    const std::string plain = "AUTH PLAIN AG1lAHNlY3JldA==\r\n";
    return {
        {"AuthPlainOnLoopbackWhenAllowed", ConnectionSecurity::None, true,
         Then(Then({greeting}, Ehlo("250 AUTH LOGIN PLAIN\r\n")),
              Then({script::Expect(plain), script::Send("235 ok\r\n")}, Delivery())),
         SendStatus::Sent, ""},
        {"StartTlsThenAuthLogin", ConnectionSecurity::StartTls, true,
         Then(
             Then({greeting}, Ehlo("250-STARTTLS\r\n250 SIZE 1000\r\n")),
             Then({script::Expect("STARTTLS\r\n"), script::Send("220 go ahead\r\n"),
                   script::StartTls(trusted)},
                  // The capabilities of the encrypted connection are the ones that count.
                  Then(Ehlo("250-auth=CRAM-MD5 login\r\n250 8BITMIME\r\n"),
                       Then({script::Expect("AUTH LOGIN\r\n"), script::Send("334 VXNlcm5hbWU6\r\n"),
                             script::Expect("bWU=\r\n"), script::Send("334 UGFzc3dvcmQ6\r\n"),
                             script::Expect("c2VjcmV0\r\n"), script::Send("235 ok\r\n")},
                            Delivery())))),
         SendStatus::Sent, ""},
        {"ImplicitTlsWithoutAuth", ConnectionSecurity::Tls, false,
         Then({script::StartTls(trusted), greeting}, Then(Ehlo("250 SIZE\r\n"), Delivery())),
         SendStatus::Sent, ""},
        {"EhloRefused", ConnectionSecurity::Tls, false,
         Then({script::StartTls(trusted), greeting, script::Expect("EHLO 127.0.0.1\r\n"),
               script::Send("502 no\r\n")},
              QuitAfterRefusal()),
         SendStatus::Failed, "SMTP EHLO: 502 no\r\n"},
        {"NeitherPlainNorLogin", ConnectionSecurity::Tls, true,
         Then(Then({script::StartTls(trusted), greeting}, Ehlo("250 AUTH CRAM-MD5 XOAUTH2\r\n")),
              QuitAfterRefusal()),
         SendStatus::Failed,
         "SMTP AUTH: the server offers neither PLAIN nor LOGIN, only CRAM-MD5 "
         "XOAUTH2"},
        // Bytes after the answer to STARTTLS would be taken as the encrypted server's.
        {"StartTlsAnswerWithMoreLines", ConnectionSecurity::StartTls, true,
         Then(Then({greeting}, Ehlo("250 STARTTLS\r\n")),
              {script::Expect("STARTTLS\r\n"), script::Send("220 go\r\n250 AUTH PLAIN\r\n"),
               script::ExpectClose()}),
         SendStatus::Failed,
         "SMTP STARTTLS: data after the reply, TLS not started: 220 go\r\n250 AUTH PLAIN\r\n"},
    };
}

class SmtpTlsTest : public ::testing::TestWithParam<SmtpTlsCase> {
protected:
    SmtpTlsTest() {
        env.context.log.OpenSessionLogs();
        env.context.currentMailbox = "Office";
        sender.host = "127.0.0.1";
        sender.senderAddress = "me@example.org";
        sender.authUserId = "me";
        sender.authPassword = "secret";
        sender.plainAuthOnLoopback = true;
        // Long enough for a handshake on a loaded machine.
        test::ShortenLimits(sender.smtp, 5000, 5000);
    }

    const test::TrustOnly trust{test::TestCa::Get().File()};
    test::TestContext env;
    SmtpSender sender{env.context};
};

TEST_P(SmtpTlsTest, Dialogue) {
    const SmtpTlsCase& c = GetParam();
    FakeServer server(c.script);
    sender.port = server.Port();
    sender.security = c.security;
    sender.authEnabled = c.auth;

    SmtpSendMessage(sender, {"you@example.net"}, kMessage);
    EXPECT_EQ(sender.sendStatus, c.status);
    if (c.error.empty()) {
        EXPECT_TRUE(env.ui.errorLines.empty());
    } else {
        ASSERT_EQ(env.ui.errorLines.size(), 1u);
        const std::string& line = env.ui.errorLines[0];
        EXPECT_EQ(line.substr(21, line.size() - 23), c.error);
    }
    const auto outbox = ListOutboxFiles(OutboxFolder(env.context.programDir, "Office"));
    EXPECT_EQ(outbox.size(), c.status == SendStatus::Sent ? 0u : 1u);
    EXPECT_FALSE(sender.smtp.Active());
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

INSTANTIATE_TEST_SUITE_P(Smtp, SmtpTlsTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(EhloCapabilitiesTest, ReadsStartTlsAndAuthMechanisms) {
    struct Case {
        const char* reply;
        bool startTls;
        std::vector<std::string> mechanisms;
    };
    const Case cases[] = {
        {"250-mail.example\r\n250-SIZE 100\r\n250-starttls\r\n250 AUTH PLAIN LOGIN\r\n",
         true,
         {"PLAIN", "LOGIN"}},
        // The old form, repeated, in lower case; each mechanism counted once.
        {"250-mail.example\r\n250-AUTH=login\r\n250 AUTH LOGIN  plain\r\n",
         false,
         {"LOGIN", "PLAIN"}},
        // The greeting line is no capability, and lines of another code are none either.
        {"250 STARTTLS is what we greet with\r\n", false, {}},
        {"250-mail.example\r\n220-STARTTLS\r\n250-AUTHX PLAIN\r\n250 AUTH\r\n", false, {}},
        // A control character inside the line separates words like a blank.
        {"250-mail.example\r\n250 AUTH=\rPLAIN\tLOGIN\r\n", false, {"PLAIN", "LOGIN"}},
        // Bare LF line ends and a missing final line end.
        {"250-mail.example\n250-STARTTLS\n250 AUTH PLAIN", true, {"PLAIN"}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        const SmtpCapabilities offered = ParseEhloCapabilities(c.reply);
        EXPECT_EQ(offered.startTls, c.startTls);
        EXPECT_EQ(offered.authMechanisms, c.mechanisms);
    }
}

} // namespace
} // namespace zelm
