// Pop3Open with TLS asked for: implicit TLS and STLS against the scripted fake server, and the
// conversations that must end before the login.
#include <gtest/gtest.h>

#include "protocols/pop3.h"
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

const std::vector<ScriptStep> kLogin = {
    script::Send("+OK POP3 ready\r\n"), script::Expect("USER me\r\n"), script::Send("+OK\r\n"),
    script::Expect("PASS secret\r\n"),  script::Send("+OK in\r\n"),    script::Expect("STAT \r\n"),
    script::Send("+OK 2 900\r\n")};

struct Pop3TlsCase {
    const char* name;
    ConnectionSecurity security;
    std::vector<ScriptStep> script;
    bool interactive;
    bool loggedIn;
    // The error-log line or dialog text, without its timestamp; "" for none.
    std::string report;
};

std::vector<Pop3TlsCase> Cases() {
    const test::TlsIdentity trusted = test::TestCa::Get().Issue("localhost", {"IP:127.0.0.1"});
    const test::TlsIdentity unknown = test::SelfSignedIdentity();
    const auto stls = [](const std::string& reply) {
        return std::vector<ScriptStep>{script::Send("+OK POP3 ready\r\n"),
                                       script::Expect("STLS\r\n"), script::Send(reply)};
    };
    return {
        {"ImplicitTls", ConnectionSecurity::Tls, Then({script::StartTls(trusted)}, kLogin), false,
         true, ""},
        {"Stls", ConnectionSecurity::StartTls,
         Then(stls("+OK Begin TLS\r\n"),
              Then({script::StartTls(trusted)}, {kLogin.begin() + 1, kLogin.end()})),
         false, true, ""},
        {"StlsRefused", ConnectionSecurity::StartTls,
         Then(stls("-ERR not here\r\n"), {script::ExpectClose()}), false, false,
         "Pop3 STLS: -ERR not here\r\n"},
        // Bytes after the answer to STLS would be taken as the encrypted server's.
        {"StlsAnswerWithMoreLines", ConnectionSecurity::StartTls,
         Then(stls("+OK Begin TLS\r\n+OK logged in\r\n"), {script::ExpectClose()}), false, false,
         "Pop3 STLS: +OK Begin TLS\r\n+OK logged in\r\n"},
        {"CertificateRefusedInteractive",
         ConnectionSecurity::Tls,
         {script::StartTls(unknown), script::ExpectClose()},
         true,
         false,
         "certificate not accepted: self-signed certificate; subject CN=localhost; SHA-256 "
         "fingerprint " +
             unknown.fingerprint},
    };
}

class Pop3TlsTest : public ::testing::TestWithParam<Pop3TlsCase> {
protected:
    Pop3TlsTest() {
        env.context.currentMailbox = "home";
        // Long enough for a handshake on a loaded machine.
        test::ShortenLimits(pop3.connection, 5000, 5000);
    }

    const test::TrustOnly trust{test::TestCa::Get().File()};
    test::TestContext env;
    Pop3Client pop3{env.context};
};

TEST_P(Pop3TlsTest, Dialogue) {
    const Pop3TlsCase& c = GetParam();
    FakeServer server(c.script);
    pop3.connection.SetEndpoint("127.0.0.1");
    pop3.connection.SetPort(server.Port());
    pop3.security = c.security;
    env.context.interactiveMode = c.interactive;

    EXPECT_EQ(Pop3Open(pop3, "me", "secret"), c.loggedIn);
    EXPECT_EQ(pop3.connection.Encrypted(), c.loggedIn);
    EXPECT_EQ(pop3.messageTotal, c.loggedIn ? 2 : 0);
    const auto& reports = c.interactive ? env.ui.messages : env.ui.errorLines;
    if (c.report.empty()) {
        EXPECT_TRUE(reports.empty());
    } else {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(c.interactive ? reports[0] : reports[0].substr(21, reports[0].size() - 23),
                  c.report);
        // A conversation that cannot be protected is over.
        EXPECT_FALSE(pop3.connection.Active());
        EXPECT_FALSE(env.context.interactiveMode);
    }
    pop3.connection.Close();
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

INSTANTIATE_TEST_SUITE_P(Pop3, Pop3TlsTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace zelm
