// The transport over TLS against the scripted fake server: which certificates are accepted,
// the reply readers and sends through TLS, and handshakes that stall or break off.
#include "protocols/tls.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/fake_server.h"
#include "tests/support/short_limits.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::ScriptStep;
using test::TestCa;
using test::TlsIdentity;
namespace script = test::script;

class TlsTest : public ::testing::Test {
protected:
    TlsTest() {
        // Long enough for a handshake on a loaded machine; the stall tests shorten it.
        test::ShortenLimits(connection, 5000, 5000);
    }

    void ConnectTo(const FakeServer& server, const std::string& host = "127.0.0.1") {
        connection.SetEndpoint(host);
        connection.SetPort(server.Port());
        connection.Connect();
    }

    const test::TrustOnly trust{TestCa::Get().File()};
    test::TestContext env;
    Connection connection{env.context, "Pop3: Unable to read data from Socket", 110};
};

struct CertificateCase {
    const char* name;
    TlsIdentity identity;
    std::string host;
    std::string pin;
    // The start of the reason, "" when the certificate is accepted.
    std::string refusal;
};

std::vector<CertificateCase> CertificateCases() {
    const TestCa& ca = TestCa::Get();
    const TlsIdentity good = ca.Issue("localhost", {"DNS:localhost", "IP:127.0.0.1"});
    const TlsIdentity other = ca.Issue("mail.example.org", {"DNS:mail.example.org"});
    const TlsIdentity expired = ca.Issue("localhost", {"DNS:localhost", "IP:127.0.0.1"}, true);
    const TlsIdentity unknown = test::SelfSignedIdentity();
    std::string lowerPin;
    for (const char c : unknown.fingerprint)
        if (c != ':') lowerPin += static_cast<char>(std::tolower(c));
    return {
        {"TrustedByAddress", good, "127.0.0.1", "", ""},
        {"TrustedByName", good, "localhost", "", ""},
        {"WrongHostName", other, "localhost", "", "certificate not accepted: hostname mismatch"},
        {"WrongAddress", other, "127.0.0.1", "", "certificate not accepted: IP address mismatch"},
        {"Expired", expired, "127.0.0.1", "", "certificate not accepted: certificate has expired"},
        {"UnknownIssuer", unknown, "127.0.0.1", "",
         "certificate not accepted: self-signed certificate; "},
        // A pin in either form accepts the certificate whatever its chain.
        {"PinnedAsShown", unknown, "127.0.0.1", unknown.fingerprint, ""},
        {"PinnedInLowerCaseHex", unknown, "127.0.0.1", lowerPin, ""},
        {"WrongPin", unknown, "127.0.0.1", good.fingerprint,
         "certificate not accepted: self-signed certificate (and it is not the accepted one)"},
        // A pin only adds an accepted certificate; a chain that verifies is still good.
        {"PinOfAnotherButTrusted", good, "127.0.0.1", unknown.fingerprint, ""},
    };
}

class TlsCertificateTest : public TlsTest, public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(TlsCertificateTest, AcceptsOrRefusesBeforeAnyDataIsSent) {
    const CertificateCase& c = GetParam();
    const bool accepted = c.refusal.empty();
    std::vector<ScriptStep> steps = {script::StartTls(c.identity)};
    if (accepted) {
        steps.push_back(script::Expect("USER me\r\n"));
        steps.push_back(script::Send("+OK\r\n"));
    } else {
        steps.push_back(script::ExpectClose());
    }
    FakeServer server(steps);
    ConnectTo(server, c.host);

    if (accepted) {
        connection.StartTls(c.pin);
        EXPECT_TRUE(connection.Encrypted());
        connection.SendText("USER me\r\n");
        EXPECT_EQ(ReadPop3Response(connection, false), "+OK\r\n");
    } else {
        try {
            connection.StartTls(c.pin);
            FAIL() << "the certificate was accepted";
        } catch (const TlsError& error) {
            const std::string why = error.what();
            EXPECT_EQ(why.rfind(c.refusal, 0), 0u) << why;
            EXPECT_NE(why.find("; subject CN="), std::string::npos) << why;
            EXPECT_NE(why.find("; SHA-256 fingerprint " + c.identity.fingerprint),
                      std::string::npos)
                << why;
        }
        EXPECT_FALSE(connection.Active());
    }
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsCertificateTest, ::testing::ValuesIn(CertificateCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(TlsTest, RepliesAndSendsOfAnySizeGoThroughTls) {
    const TlsIdentity identity = TestCa::Get().Issue("localhost", {"IP:127.0.0.1"});
    std::string body;
    while (body.size() < 300000)
        body += "a line of a long message body, sent in many TLS records\r\n";
    const std::string bigSend(1 << 20, 'x');
    FakeServer server({script::StartTls(identity), script::SendSegments({"+OK rea", "dy\r\n"}),
                       script::Expect("RETR 1\r\n"),
                       script::SendSegments({"+OK\r\n" + body, ".", "\r\n"}),
                       script::Expect(bigSend), script::Send("250 ok\r\n")});
    ConnectTo(server);
    connection.StartTls("");

    EXPECT_EQ(ReadPop3Response(connection, false), "+OK ready\r\n");
    connection.SendText("RETR 1\r\n");
    EXPECT_EQ(ReadPop3Response(connection, true), "+OK\r\n" + body + ".\r\n");
    connection.SendText(bigSend);
    EXPECT_EQ(ReadSmtpReply(connection), "250 ok\r\n");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_TRUE(env.ui.errorLines.empty());
}

TEST_F(TlsTest, SilenceOverTlsIsTheUsualReadFailure) {
    const TlsIdentity identity = TestCa::Get().Issue("localhost", {"IP:127.0.0.1"});
    FakeServer server({script::StartTls(identity), script::Silent(3000)});
    ConnectTo(server);
    connection.StartTls("");
    test::ShortenLimits(connection);

    EXPECT_EQ(ReadPop3Response(connection, false), "");
    EXPECT_FALSE(connection.Active());
    ASSERT_EQ(env.ui.errorLines.size(), 1u);
    EXPECT_EQ(env.ui.errorLines[0].substr(21), "Pop3: Unable to read data from Socket\r\n");
}

struct HandshakeFailure {
    const char* name;
    std::vector<ScriptStep> script;
    std::string reason;
};

class TlsHandshakeFailureTest : public TlsTest,
                                public ::testing::WithParamInterface<HandshakeFailure> {};

TEST_P(TlsHandshakeFailureTest, EndsWithinTheReadLimit) {
    FakeServer server(GetParam().script);
    ConnectTo(server);
    test::ShortenLimits(connection);
    const auto start = std::chrono::steady_clock::now();
    try {
        connection.StartTls("");
        FAIL() << "the handshake succeeded";
    } catch (const TlsError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(GetParam().reason, 0), 0u) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(connection.Active());
    // The window stays usable while the handshake waits.
    EXPECT_GT(env.ui.pumpCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Handshakes, TlsHandshakeFailureTest,
    ::testing::Values(HandshakeFailure{"NeverAnswered",
                                       {script::Silent(3000)},
                                       "handshake failed: no answer from the server within 300 ms"},
                      HandshakeFailure{"ClosedMidway",
                                       {script::Silent(100), script::Close()},
                                       "handshake failed: the server closed the connection"},
                      HandshakeFailure{"PlainTextAnswer",
                                       {script::Silent(100), script::Send("+OK plain text\r\n")},
                                       "handshake failed: "}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ConnectionSecurityTest, FingerprintsCompareInEveryCopiedForm) {
    const std::string shown = "0A:BC:" + std::string(60, 'F');
    const std::string hex = "0ABC" + std::string(60, 'F');
    EXPECT_EQ(NormalizedFingerprint(shown), hex);
    EXPECT_EQ(NormalizedFingerprint(" 0abc" + std::string(60, 'f') + "\r\n"), hex);
    EXPECT_EQ(NormalizedFingerprint("sha256 Fingerprint=" + shown), hex);
}

TEST(ConnectionSecurityTest, ParsesTheStoredTexts) {
    EXPECT_EQ(ParseConnectionSecurity(""), ConnectionSecurity::None);
    EXPECT_EQ(ParseConnectionSecurity("none"), ConnectionSecurity::None);
    EXPECT_EQ(ParseConnectionSecurity(" StartTLS "), ConnectionSecurity::StartTls);
    EXPECT_EQ(ParseConnectionSecurity("TLS"), ConnectionSecurity::Tls);
    EXPECT_EQ(ParseConnectionSecurity("ssl"), std::nullopt);
    EXPECT_EQ(ParseConnectionSecurity("tls1.2"), std::nullopt);
}

} // namespace
} // namespace zelm
