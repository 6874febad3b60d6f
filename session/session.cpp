#include "session/session.h"

#include "protocols/pop3.h"

namespace zelm {

ProcessingSession::ProcessingSession(EngineContext& engineContext, Pop3Client& pop3Client,
                                     SmtpSender& smtpSender)
    : context(engineContext), pop3(pop3Client), smtp(smtpSender) {}

ProcessingSession::~ProcessingSession() = default;

bool EnsureRetrieved(ProcessingSession& session) {
    Pop3Client& pop3 = session.pop3;
    const int number = session.messageNumber;
    return EnsureRetrievedWith([&pop3, number] { return Pop3Retr(pop3, number); },
                               session.Message().messageVariables, pop3.headerLines,
                               pop3.messageBody);
}

bool DeleteCurrentMessage(ProcessingSession& session) {
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
