#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/schema.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session.h"
#include "tests/support/fake_server.h"
#include "tests/support/real_servers.h"
#include "tests/support/test_home.h"

// Whole sessions in a temporary home: mailboxes on the real Dovecot or on a scripted fake
// server, the log lines and the Cache as the tests read them.
namespace zelm::test {

/// Length of a log line's timestamp with its trailing blank.
inline constexpr std::size_t kTimestampLength = 21;

/// A small message from Alice, as dropped into a maildir.
inline std::string Message(const std::string& subject, const std::string& body = "Body\r\n") {
    return "From: Alice <alice@example.com>\r\nSubject: " + subject +
           "\r\nTo: bob@example.com\r\n\r\n" + body;
}

/// The POP3 dialogue up to and including STAT, for a fake server.
inline std::vector<ScriptStep> Login(const std::string& user, int total) {
    return {script::Send("+OK ready\r\n"),
            script::Expect("USER " + user + "\r\n"),
            script::Send("+OK\r\n"),
            script::Expect("PASS pw\r\n"),
            script::Send("+OK\r\n"),
            script::Expect("STAT \r\n"),
            script::Send("+OK " + std::to_string(total) + " 1000\r\n")};
}

/// UIDL, LIST and TOP of one message whose header the fake server serves.
inline std::vector<ScriptStep> WholeMessage(int n, const std::string& uid,
                                            const std::string& subject) {
    const std::string number = std::to_string(n);
    return {script::Expect("UIDL " + number + "\r\n"),
            script::Send("+OK " + number + " " + uid + "\r\n"),
            script::Expect("LIST " + number + "\r\n"),
            script::Send("+OK " + number + " 120\r\n"),
            script::Expect("TOP " + number + " 0\r\n"),
            script::Send("+OK\r\nFrom: f@example.com\r\nSubject: " + subject + "\r\n\r\n.\r\n")};
}

/// The parts of a script one after the other.
inline std::vector<ScriptStep> Join(std::vector<std::vector<ScriptStep>> parts) {
    std::vector<ScriptStep> all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

/// A session over mailboxes the test adds, with a recording window.
class SessionFixture : public ::testing::Test {
protected:
    SessionFixture() { t.ui.headerFieldNames = BuiltInHeaderFieldList(); }

    /// A fake server that stops scripting must fail a test in a second, not in a minute. Real
    /// Dovecot keeps the full limits: it delays logins after any test's failed one.
    void ShortLimits() {
        pop3.connection.Limits().readableWaitMs = 1500;
        pop3.connection.Limits().readLimitMs = 1500;
    }

    /// An enabled mailbox on loopback with the user's password "pw".
    void AddMailbox(const std::string& name, const std::string& user, int port) {
        const std::string key = MailboxKeyPath(name);
        WriteRegBool(t.db, key, schema::MailboxEnabled, true);
        Set(name, schema::Host, "127.0.0.1");
        Set(name, schema::Port, std::to_string(port));
        Set(name, schema::UserID, user);
        Set(name, schema::Password, ScramblePassword("pw"));
    }
    void AddRealMailbox(const std::string& name, const RealMailbox& user) {
        AddMailbox(name, user.User(), RealPop3Port());
    }
    void Set(const std::string& mailbox, const std::string& name, const std::string& value) {
        WriteRegString(t.db, MailboxKeyPath(mailbox), name, value);
    }

    /// The session log's texts without their timestamps and line ends.
    std::vector<std::string> SessionTexts() const { return Texts(t.ui.sessionLines); }
    std::vector<std::string> ErrorTexts() const { return Texts(t.ui.errorLines); }
    static std::vector<std::string> Texts(const std::vector<std::string>& lines) {
        std::vector<std::string> texts;
        for (const std::string& line : lines) {
            EXPECT_GE(line.size(), kTimestampLength + 2);
            texts.push_back(line.substr(kTimestampLength, line.size() - kTimestampLength - 2));
        }
        return texts;
    }
    bool Logged(const std::string& text) const {
        for (const std::string& line : SessionTexts()) {
            if (line == text) return true;
        }
        return false;
    }
    std::vector<std::string> Cache(const std::string& mailbox) const {
        return ReadSectionLines(DataFilePath(t.home.Path(), mailbox), kSectionCache);
    }

    TestContext t;
    Pop3Client pop3{t.context};
    SmtpSender smtp{t.context};
    ProcessingSession session{t.context, pop3, smtp};
};

} // namespace zelm::test
