#include "session/session.h"

#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/test_run.h"

namespace zelm {

ProcessingSession::ProcessingSession(EngineContext& engineContext, Pop3Client& pop3Client,
                                     SmtpSender& smtpSender)
    : context(engineContext), pop3(pop3Client), smtp(smtpSender) {}

ProcessingSession::~ProcessingSession() = default;

bool EnsureRetrieved(ProcessingSession& session) {
    if (session.testRun) {
        const MessageReport* report = session.testRun->Message();
        if (report && report->deleted) {
            session.testRun->Detail("the server refuses RETR of a message marked for deletion");
            return false;
        }
    }
    Pop3Client& pop3 = session.pop3;
    const int number = session.messageNumber;
    return EnsureRetrievedWith([&pop3, number] { return Pop3Retr(pop3, number); },
                               session.Message().messageVariables, pop3.headerLines,
                               pop3.messageBody);
}

MessageLines ReceivedMessage(const ProcessingSession& session) {
    return MessageLines(session.pop3.headerLines, session.pop3.messageBody);
}

void SendMail(ProcessingSession& session, const std::vector<std::string>& recipients,
              MessageLines message) {
    if (TestRun* run = session.testRun) {
        std::string list;
        for (const auto& recipient : recipients)
            list += (list.empty() ? "" : ", ") + recipient;
        run->Detail("send to: " + (list.empty() ? std::string("(no recipient)") : list));
        run->Detail("message: " + std::to_string(message.size()) + " lines");
        return;
    }
    SmtpSendMessage(session.smtp, recipients, message);
}

bool DeleteCurrentMessage(ProcessingSession& session) {
    if (TestRun* run = session.testRun) {
        run->Detail("DELE " + std::to_string(session.messageNumber) +
                    ": the server removes the message at QUIT");
        if (MessageReport* report = run->Message()) report->deleted = true;
        return true;
    }
    // The id of the message now processed, from its UIDL; without one it cannot be found again.
    const std::string id = session.pop3.messageUid;
    if (!id.empty()) {
        session.deletions.Decided(id);
        session.journal.RecordDeletion(id);
    }
    const bool accepted = Pop3Dele(session.pop3, session.messageNumber);
    if (accepted && !id.empty()) session.deletions.Accepted(id);
    return accepted;
}

} // namespace zelm
