// The POP3 client against the real Dovecot that scripts/test starts on loopback, plain and
// over TLS. Users u01 to u08 belong to these tests.
#include "protocols/pop3.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/real_servers.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

std::string Message(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: me@example.org\r\nSubject: " + subject +
           "\r\n\r\n" + body;
}

class Pop3RealTest : public ::testing::Test {
protected:
    explicit Pop3RealTest(const char* user) : mailbox(user) {
        mailbox.Clear();
        env.context.currentMailbox = "real";
        // A client that waited for a terminator that never comes would stall here for the
        // full minute; a shorter limit turns that into a failure sooner. It stays long enough
        // for the login delay Dovecot adds after another test's failed login.
        pop3.connection.Limits().readableWaitMs = 20000;
        pop3.connection.Limits().readLimitMs = 20000;
    }
    ~Pop3RealTest() override {
        if (pop3.connection.Active()) pop3.connection.Close();
        mailbox.Clear();
    }

    bool Open() {
        pop3.connection.SetEndpoint("127.0.0.1");
        pop3.connection.SetPort(test::RealPop3Port());
        return Pop3Open(pop3, mailbox.User(), test::kRealPassword);
    }

    test::RealMailbox mailbox;
    test::TestContext env;
    Pop3Client pop3{env.context};
};

class Pop3RealU01 : public Pop3RealTest {
protected:
    Pop3RealU01() : Pop3RealTest("u01") {}
};

TEST_F(Pop3RealU01, ReadsCountIdsSizesHeadersAndBodies) {
    const std::string second = Message("second", "line\r\n.starts with a dot\r\n..two dots\r\n");
    mailbox.Drop(Message("first", "hello\r\n"));
    mailbox.Drop(second);
    mailbox.Drop(Message("third", "bye\r\n"));

    ASSERT_TRUE(Open());
    EXPECT_EQ(pop3.messageTotal, 3);
    EXPECT_TRUE(env.ui.errorLines.empty());

    std::set<std::string> ids;
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(Pop3Uidl(pop3, n));
        EXPECT_FALSE(pop3.messageUid.empty());
        EXPECT_EQ(pop3.messageUid.find_first_of(" \r\n"), std::string::npos);
        ids.insert(pop3.messageUid);
    }
    EXPECT_EQ(ids.size(), 3u);

    ASSERT_TRUE(Pop3List(pop3, 2));
    EXPECT_EQ(pop3.messageSize, static_cast<int>(second.size()));

    ASSERT_TRUE(Pop3Top(pop3, 2));
    EXPECT_EQ(pop3.headerLines,
              (std::vector<std::string>{"From: Sender <sender@example.org>", "To: me@example.org",
                                        "Subject: second", ""}));

    ASSERT_TRUE(Pop3Retr(pop3, 2));
    // The server stuffs every line that starts with a dot; retrieval takes one dot off again.
    EXPECT_EQ(pop3.messageBody.Lines(),
              (std::vector<std::string>{"line", ".starts with a dot", "..two dots"}));
    EXPECT_EQ(env.home.Read("zelm.dat"), second);

    EXPECT_TRUE(Pop3Quit(pop3));
    EXPECT_FALSE(pop3.connection.Active());
    EXPECT_TRUE(env.ui.errorLines.empty());
}

class Pop3RealU02 : public Pop3RealTest {
protected:
    Pop3RealU02() : Pop3RealTest("u02") {}
};

TEST_F(Pop3RealU02, DeletedMessageIsGoneAfterQuit) {
    mailbox.Drop(Message("doomed", "x\r\n"));
    mailbox.Drop(Message("kept", "y\r\n"));
    ASSERT_TRUE(Open());
    ASSERT_EQ(pop3.messageTotal, 2);
    EXPECT_TRUE(Pop3Dele(pop3, 1));
    EXPECT_TRUE(Pop3Quit(pop3));

    ASSERT_TRUE(Open());
    EXPECT_EQ(pop3.messageTotal, 1);
    ASSERT_TRUE(Pop3Top(pop3, 1));
    EXPECT_EQ(pop3.headerLines[2], "Subject: kept");
    EXPECT_TRUE(Pop3Quit(pop3));
    EXPECT_EQ(mailbox.Count(), 1u);
}

class Pop3RealU03 : public Pop3RealTest {
protected:
    Pop3RealU03() : Pop3RealTest("u03") {}
};

TEST_F(Pop3RealU03, RsetKeepsMarkedMessages) {
    mailbox.Drop(Message("one", "x\r\n"));
    mailbox.Drop(Message("two", "y\r\n"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Pop3Dele(pop3, 1));
    EXPECT_TRUE(Pop3Dele(pop3, 2));
    EXPECT_TRUE(Pop3Rset(pop3));
    EXPECT_TRUE(Pop3Quit(pop3));

    ASSERT_TRUE(Open());
    EXPECT_EQ(pop3.messageTotal, 2);
    EXPECT_TRUE(Pop3Quit(pop3));
}

class Pop3RealU04 : public Pop3RealTest {
protected:
    Pop3RealU04() : Pop3RealTest("u04") {}
};

TEST_F(Pop3RealU04, RefusedRetrAndTopAreOneLineAndTheConversationGoesOn) {
    mailbox.Drop(Message("one", "x\r\n"));
    mailbox.Drop(Message("two", "y\r\n"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Pop3Dele(pop3, 1));

    // Dovecot refuses a message deleted earlier in the conversation with a one-line error.
    EXPECT_FALSE(Pop3Retr(pop3, 1));
    EXPECT_FALSE(Pop3Top(pop3, 1));
    EXPECT_TRUE(pop3.connection.Active());
    ASSERT_EQ(env.ui.errorLines.size(), 2u);
    EXPECT_EQ(env.ui.errorLines[0].substr(21, 14), "MSG RETR: \r\n-E");
    EXPECT_EQ(env.ui.errorLines[1].substr(21, 15), "Pop3 TOP: \r\n-ER");

    ASSERT_TRUE(Pop3Top(pop3, 2));
    EXPECT_EQ(pop3.headerLines[2], "Subject: two");
    EXPECT_TRUE(Pop3Rset(pop3));
    EXPECT_TRUE(Pop3Quit(pop3));
}

class Pop3RealU05 : public Pop3RealTest {
protected:
    Pop3RealU05() : Pop3RealTest("u05") {}
};

TEST_F(Pop3RealU05, WrongPasswordIsAPassFailure) {
    pop3.connection.SetEndpoint("127.0.0.1");
    pop3.connection.SetPort(test::RealPop3Port());
    EXPECT_FALSE(Pop3Open(pop3, mailbox.User(), "wrong"));
    ASSERT_EQ(env.ui.errorLines.size(), 1u);
    EXPECT_EQ(env.ui.errorLines[0].substr(21, 12), "Pop3 PASS: -");
    EXPECT_EQ(env.home.Read("error.log").substr(21, 12), "Pop3 PASS: -");
}

class Pop3RealU06 : public Pop3RealTest {
protected:
    Pop3RealU06() : Pop3RealTest("u06") {}
};

TEST_F(Pop3RealU06, EmptyMailboxAndUnknownMessage) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(pop3.messageTotal, 0);
    EXPECT_FALSE(Pop3Uidl(pop3, 1));
    EXPECT_EQ(pop3.messageUid, "");
    EXPECT_FALSE(Pop3List(pop3, 1));
    EXPECT_TRUE(Pop3Quit(pop3));
}

class Pop3RealU07 : public Pop3RealTest {
protected:
    Pop3RealU07() : Pop3RealTest("u07") {}
};

TEST_F(Pop3RealU07, LargeMessageArrivesWhole) {
    std::string body;
    for (int i = 0; body.size() < (3 << 20); ++i)
        body +=
            (i % 50 == 0 ? "." : "") + std::string(70, static_cast<char>('a' + i % 26)) + "\r\n";
    const std::string message = Message("large", body);
    mailbox.Drop(message);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Pop3Retr(pop3, 1));
    EXPECT_EQ(env.home.Read("zelm.dat"), message);
    EXPECT_TRUE(Pop3Quit(pop3));
}

class Pop3RealU08 : public Pop3RealTest {
protected:
    Pop3RealU08() : Pop3RealTest("u08") {}
};

TEST_F(Pop3RealU08, BrowsingOverTlsAsTheInteractiveBrowserDoes) {
    const test::TrustOnly trust(test::RealCaFile());
    const std::string message = Message("secret", "over TLS\r\n");
    mailbox.Drop(message);
    const struct {
        ConnectionSecurity security;
        int port;
    } ways[] = {{ConnectionSecurity::Tls, test::RealPop3sPort()},
                {ConnectionSecurity::StartTls, test::RealPop3Port()}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.port);
        env.context.interactiveMode = true;
        env.context.connectionInUse = true;
        pop3.security = way.security;
        pop3.connection.SetEndpoint("localhost");
        pop3.connection.SetPort(way.port);
        ASSERT_TRUE(Pop3Open(pop3, mailbox.User(), test::kRealPassword)) << env.ui.messages.back();
        EXPECT_TRUE(pop3.connection.Encrypted());
        EXPECT_EQ(pop3.messageTotal, 1);
        ASSERT_TRUE(Pop3Top(pop3, 1));
        EXPECT_EQ(pop3.headerLines[2], "Subject: secret");
        ASSERT_TRUE(Pop3Retr(pop3, 1));
        EXPECT_EQ(env.home.Read("zelm.dat"), message);
        EXPECT_TRUE(Pop3Quit(pop3));
        EXPECT_FALSE(env.context.connectionInUse);
        EXPECT_TRUE(env.context.interactiveMode);
    }
    EXPECT_TRUE(env.ui.messages.empty());
    EXPECT_TRUE(env.ui.errorLines.empty());
}

} // namespace
} // namespace zelm
