#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/string_helpers.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session.h"
#include "tests/support/fake_server.h"
#include "tests/support/test_home.h"

// One message in the middle of a session, for screening and action tests: its header already
// read (as TOP left it), the session log open, the POP3 client talking to a scripted server
// and the SMTP sender pointed at a scripted server or at a closed port.
namespace zelm::test {

/// What a scripted SMTP server received in one connection.
struct SmtpDialogue {
    std::vector<std::string> recipients;
    /// The message data without the final "." line, as sent (dot-stuffed, CR LF).
    std::string data;
};

/// The steps of an SMTP server that accepts one message with that many recipients.
inline std::vector<ScriptStep> AcceptMessage(std::size_t recipients) {
    std::vector<ScriptStep> steps{script::Send("220 fake\r\n"), script::ReadUntil("\r\n"),
                                  script::Send("250 hello\r\n"), script::ReadUntil("\r\n"),
                                  script::Send("250 sender ok\r\n")};
    for (std::size_t i = 0; i < recipients; ++i) {
        steps.push_back(script::ReadUntil("\r\n"));
        steps.push_back(script::Send("250 recipient ok\r\n"));
    }
    for (auto step :
         {script::ReadUntil("\r\n"), script::Send("354 go\r\n"), script::ReadUntil("\r\n.\r\n"),
          script::Send("250 queued\r\n"), script::ReadUntil("\r\n"), script::Send("221 bye\r\n")}) {
        steps.push_back(std::move(step));
    }
    return steps;
}

/// Steps accepting several messages, one connection each, with these recipient counts.
inline std::vector<ScriptStep> AcceptMessages(const std::vector<std::size_t>& recipientCounts) {
    std::vector<ScriptStep> steps;
    for (std::size_t i = 0; i < recipientCounts.size(); ++i) {
        if (i > 0) steps.push_back(script::Accept());
        const auto one = AcceptMessage(recipientCounts[i]);
        steps.insert(steps.end(), one.begin(), one.end());
    }
    return steps;
}

/// The envelope recipients and the data of every connection a scripted SMTP server took.
inline std::vector<SmtpDialogue> SmtpDialogues(const FakeServer& server) {
    std::vector<SmtpDialogue> dialogues;
    for (const auto& received : server.ReceivedPerConnection()) {
        SmtpDialogue dialogue;
        const auto dataStart = received.find("DATA\r\n");
        const auto commands = received.substr(0, dataStart);
        for (const auto& line : Split(commands, "\r\n").pieces) {
            if (line.rfind("RCPT TO:<", 0) == 0) {
                dialogue.recipients.push_back(line.substr(9, line.size() - 10));
            }
        }
        if (dataStart != std::string::npos) {
            const auto end = received.find("\r\n.\r\n", dataStart);
            dialogue.data =
                received.substr(dataStart + 6, end == std::string::npos ? std::string::npos
                                                                        : end + 2 - dataStart - 6);
        }
        dialogues.push_back(std::move(dialogue));
    }
    return dialogues;
}

/// A POP3 multi-line reply carrying the message lines (header, empty line, body).
inline std::string RetrReply(const std::vector<std::string>& lines) {
    return "+OK message follows\r\n" + JoinListValue(lines) + ".\r\n";
}

/// The header every test message starts from, as TOP reads it (ending with the empty line).
inline std::vector<std::string> SpamHeader() {
    return {"From: John SMITH <john@sender.example>", "To: me@home.example",
            "Subject: Cheap offers", "Reply-To: Offers <offers@spam.example>", ""};
}

class MessageFixture : public ::testing::Test {
protected:
    MessageFixture() {
        t.context.currentMailbox = "home";
        t.context.log.OpenSessionLogs();
        pop3.connection.Limits().readableWaitMs = 3000;
        pop3.connection.Limits().readLimitMs = 3000;
        smtp.host = "127.0.0.1";
        smtp.port = ClosedLoopbackPort();
        smtp.senderAddress = "zelm@home.example";
        smtp.smtp.Limits().readableWaitMs = 3000;
        smtp.smtp.Limits().readLimitMs = 3000;
        session.settings.userId = "me";
        session.settings.smtpHost = "127.0.0.1";
        LoadMessage(1, SpamHeader());
    }
    ~MessageFixture() override { t.context.log.CloseSessionLogs(); }

    /// Makes message n current with this header, as the driver leaves it before screening.
    void LoadMessage(int n, const std::vector<std::string>& header) {
        pop3.headerLines = header;
        pop3.messageBody.clear();
        pop3.messageRetrieved = false;
        session.Message() = MessageState{};
        session.messageNumber = n;
        session.headerFields = BuiltInHeaderFieldList();
        ParseHeaders(header, session.headerFields, 100, session.Message());
    }

    /// The POP3 client talks to this scripted server from now on.
    void ConnectPop3(FakeServer& server) {
        pop3.connection.SetEndpoint("127.0.0.1");
        pop3.connection.SetPort(server.Port());
        pop3.connection.Connect();
    }
    /// The SMTP sender sends to this scripted server.
    void UseSmtp(const FakeServer& server) { smtp.port = server.Port(); }

    /// The session log's texts without timestamps and line ends.
    std::vector<std::string> SessionTexts() const { return Texts(t.ui.sessionLines); }
    std::vector<std::string> ErrorTexts() const { return Texts(t.ui.errorLines); }
    static std::vector<std::string> Texts(const std::vector<std::string>& lines) {
        std::vector<std::string> texts;
        for (const auto& line : lines)
            texts.push_back(line.substr(21, line.size() - 23));
        return texts;
    }

    TestContext t;
    Pop3Client pop3{t.context};
    SmtpSender smtp{t.context};
    ProcessingSession session{t.context, pop3, smtp};
};

} // namespace zelm::test
