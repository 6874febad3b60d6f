// The SMTP sender against the real aiosmtpd sink that scripts/test starts on loopback. Every
// message carries a marker of its own, so tests running in parallel find their own mail.
#include "protocols/smtp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "core/string_helpers.h"
#include "messages/compose.h"
#include "messages/data_file.h"
#include "tests/support/real_servers.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

std::string Marker(const char* test) {
    return std::string("X-Zelm-Test: ") + test + "-" + std::to_string(std::random_device{}());
}

/// What Python's email package finds as the first attachment of a spooled message.
std::string DecodedAttachment(const std::string& emlPath) {
    const std::string command = "/usr/bin/python3 -c 'import email,sys\n"
                                "m = email.message_from_binary_file(open(sys.argv[1], \"rb\"))\n"
                                "p = [p for p in m.walk() if p.get_filename()][0]\n"
                                "sys.stdout.buffer.write(p.get_filename().encode() + b\"\\n\" + "
                                "p.get_payload(decode=True))' " +
                                emlPath;
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    pclose(pipe);
    return output;
}

class SmtpRealTest : public ::testing::Test {
protected:
    SmtpRealTest() {
        env.context.log.OpenSessionLogs();
        env.context.currentMailbox = "real";
        sender.host = "127.0.0.1";
        sender.port = test::RealSmtpPort();
        sender.senderAddress = "zelm@example.org";
        sender.smtp.Limits().readableWaitMs = 5000;
        sender.smtp.Limits().readLimitMs = 5000;
    }

    test::TestContext env;
    SmtpSender sender{env.context};
};

TEST_F(SmtpRealTest, DotLinesArriveByteForByte) {
    const std::string marker = Marker("dots");
    const std::vector<std::string> message = {marker,
                                              "Subject: dots",
                                              "",
                                              ".",
                                              "..",
                                              ".starts with a dot",
                                              "a line with . inside",
                                              std::string(3000, 'w'),
                                              "",
                                              "last"};
    SmtpSendMessage(sender, {"one@example.com", "two@example.net"}, message);
    EXPECT_EQ(sender.sendStatus, SendStatus::Sent);
    EXPECT_TRUE(env.ui.errorLines.empty());

    const auto received = test::WaitForSpoolMessages(marker, 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].data, JoinListValue(message));
    EXPECT_EQ(received[0].mailFrom, "zelm@example.org");
    EXPECT_EQ(received[0].recipients,
              (std::vector<std::string>{"one@example.com", "two@example.net"}));
}

TEST_F(SmtpRealTest, ComposedAttachmentDecodesOnTheServer) {
    std::string bytes(100000, '\0');
    std::mt19937 random(11);
    for (auto& b : bytes)
        b = static_cast<char>(random());
    env.home.Write("photo.bin", bytes);
    const std::string marker = Marker("attachment");
    env.home.Write("m00001.dat", "From: zelm@example.org\r\nSubject: " + marker +
                                     "\r\nTo: {From}\r\nCc: \r\n\r\nAttachment: " +
                                     env.home.File("photo.bin") + "\r\nSee the file.\r\n");
    MessageState state;
    const HeaderFieldList fields = BuiltInHeaderFieldList();
    ParseHeaders({"From: Ann <ann@example.com>", ""}, fields, 100, state);
    state.messageVariables.RebuildNames(fields, {});
    const OutgoingMessage message = ComposeMessage(
        env.home.File("m00001.dat"), {"ann", "127.0.0.1", 1, std::time(nullptr)}, state, env.ui);

    SmtpSendMessage(sender, state.recipientList, message);
    EXPECT_EQ(sender.sendStatus, SendStatus::Sent);
    const auto received = test::WaitForSpoolMessages(marker, 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].recipients, (std::vector<std::string>{"ann@example.com"}));
    EXPECT_EQ(DecodedAttachment(test::RealSmtpSpool() + "/" + received[0].name + ".eml"),
              "photo.bin\n" + bytes);
}

TEST_F(SmtpRealTest, MessageWithoutAnyAddressIsRefusedAtDataAndKept) {
    // An entry that resolved to no address is never sent as "RCPT TO:<>"; with no recipient
    // left, the server's answer to DATA decides, and the message waits in the outbox.
    const std::vector<std::string> message = {Marker("nobody"), "", "x"};
    SmtpSendMessage(sender, {""}, message);
    EXPECT_EQ(sender.sendStatus, SendStatus::Failed);
    ASSERT_EQ(env.ui.errorLines.size(), 1u);
    EXPECT_NE(env.ui.errorLines[0].find("SMTP DATA: 503"), std::string::npos)
        << env.ui.errorLines[0];
    const auto files = ListOutboxFiles(OutboxFolder(env.context.programDir, "real"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ReadOutboxMessage(files[0]).recipients.empty());
}

TEST_F(SmtpRealTest, DeliversOverStartTlsAndImplicitTlsWithAuth) {
    const test::TrustOnly trust(test::RealCaFile());
    sender.authEnabled = true;
    sender.authUserId = test::kRealSmtpUser;
    sender.authPassword = test::kRealSmtpPassword;
    const struct {
        ConnectionSecurity security;
        int port;
    } ways[] = {{ConnectionSecurity::StartTls, test::RealSmtpStartTlsPort()},
                {ConnectionSecurity::Tls, test::RealSmtpsPort()}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.port);
        sender.security = way.security;
        sender.port = way.port;
        const std::string marker = Marker("tls");
        const std::vector<std::string> message = {marker, "Subject: tls", "", ".dot", "body"};
        SmtpSendMessage(sender, {"one@example.com"}, message);
        EXPECT_EQ(sender.sendStatus, SendStatus::Sent);
        const auto received = test::WaitForSpoolMessages(marker, 1);
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].data, JoinListValue(message));
    }
    EXPECT_TRUE(env.ui.errorLines.empty());
}

TEST_F(SmtpRealTest, WrongSmtpPasswordIsARefusedAuth) {
    const test::TrustOnly trust(test::RealCaFile());
    sender.security = ConnectionSecurity::Tls;
    sender.port = test::RealSmtpsPort();
    sender.authEnabled = true;
    sender.authUserId = test::kRealSmtpUser;
    sender.authPassword = "wrong";
    const std::vector<std::string> message = {Marker("wrong-auth"), "", "x"};
    SmtpSendMessage(sender, {"one@example.com"}, message);
    EXPECT_EQ(sender.sendStatus, SendStatus::Failed);
    ASSERT_EQ(env.ui.errorLines.size(), 1u);
    EXPECT_EQ(env.ui.errorLines[0].substr(21, 15), "SMTP AUTH: 535 ") << env.ui.errorLines[0];
    EXPECT_EQ(ListOutboxFiles(OutboxFolder(env.context.programDir, "real")).size(), 1u);
}

} // namespace
} // namespace zelm
