#include "session/screening.h"

#include <cstdio>
#include <ctime>

#include "core/string_helpers.h"
#include "messages/compose.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/actions.h"

namespace zelm {

namespace {

// The reply template lives only while one reply is composed and sent; it goes whatever
// happens, so the next rejected message never sees a stale "To:" line.
class TransientFile {
public:
    explicit TransientFile(std::string path) : m_path(std::move(path)) {}
    ~TransientFile() { std::remove(m_path.c_str()); }
    TransientFile(const TransientFile&) = delete;
    TransientFile& operator=(const TransientFile&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void ForwardRejected(ProcessingSession& session) {
    const std::string& address = session.settings.forwardAddress;
    if (!RetrieveForResponse(session, "forward of the rejected message")) return;
    MessageState& message = session.Message();
    message.messageVariables.RebuildNames(message.headerSummary.fields, session.textVariableNames);
    ExpandRecipients(address, message);
    const LentReceivedMessage received(session.pop3);
    SmtpSendMessage(session.smtp, message.recipientList, received.Lines());
    session.context.log.WriteSessionLine(" - rejected (forwarded to " + address + ")");
}

void ReturnRejected(ProcessingSession& session, bool customText) {
    MessageState& message = session.Message();
    const std::string returnPath = message.headerSummary.returnPath;
    if (IsAutomaticMessage(session.pop3.headerLines, returnPath)) {
        session.context.log.WriteSessionLine(" - rejected (not returned: automatic message)");
        return;
    }
    if (!RetrieveForResponse(session, "return of the rejected message")) return;
    message.messageVariables.RebuildNames(message.headerSummary.fields, session.textVariableNames);
    if (!customText) {
        ExpandRecipients(returnPath, message);
        const LentReceivedMessage received(session.pop3);
        SmtpSendMessage(session.smtp, message.recipientList, received.Lines());
        session.context.log.WriteSessionLine(" - rejected (returned to " + returnPath + ")");
        return;
    }

    OutgoingMessage reply;
    try {
        const TransientFile replyTemplate(
            WriteRejectReplyTemplate(session.context.programDir, session.rejectText, returnPath));
        const ComposeInputs inputs{session.settings.userId, session.settings.smtpHost,
                                   session.messageNumber, std::time(nullptr)};
        reply = ComposeMessage(replyTemplate.Path(), inputs, message, session.context.ui);
        // The reply says a program sent it, so an auto-responder does not answer it in turn.
        AddLastHeaderLine(reply, "Auto-Submitted: auto-replied");
    } catch (const ZelmError& error) {
        session.context.log.WriteSessionLine(" - custom reply to " + returnPath +
                                             " not sent: " + error.what());
        return;
    }
    SmtpSendMessage(session.smtp, message.recipientList, reply);
    session.context.log.WriteSessionLine(" - rejected (returned with custom msg to " + returnPath +
                                         ")");
}

// The keyword of a structured field value, before any blank, parameter or comment.
std::string FirstWord(const std::string& value) {
    const std::string trimmed = Trim(value);
    return LowerAscii(trimmed.substr(0, trimmed.find_first_of(" \t;(")));
}

} // namespace

bool IsAutomaticMessage(const std::vector<std::string>& headerLines,
                        const std::string& returnPath) {
    if (const auto autoSubmitted = HeaderFieldValue(headerLines, "Auto-Submitted")) {
        if (FirstWord(*autoSubmitted) != "no") return true;
    }
    if (const auto precedence = HeaderFieldValue(headerLines, "Precedence")) {
        const std::string word = FirstWord(*precedence);
        if (word == "bulk" || word == "junk" || word == "list") return true;
    }
    // A bounce carries an empty one; without the field the return address comes from Reply-To
    // or From.
    if (const auto field = HeaderFieldValue(headerLines, "Return-Path")) {
        const std::string trimmed = Trim(*field);
        if (trimmed.empty() || trimmed == "<>") return true;
    }
    const std::string address = LowerAscii(ExtractAddress(returnPath));
    const std::string localPart = address.substr(0, address.rfind('@'));
    return address.empty() || localPart == "mailer-daemon" || localPart == "postmaster";
}

bool ListEntryMatches(const std::string& entry, const std::string& headerValue) {
    if (Trim(entry).empty() || headerValue.empty()) return false;
    return ContainsNoCase(headerValue, entry);
}

bool HasCustomText(const std::vector<std::string>& rejectText) {
    for (std::size_t i = 2; i < rejectText.size(); ++i) {
        if (!Trim(rejectText[i]).empty()) return true;
    }
    return false;
}

ScreenResult ScreenMessage(ProcessingSession& session) {
    const HeaderSummary& summary = session.Message().headerSummary;
    const MailboxSettings& settings = session.settings;

    if (settings.acceptListEnabled) {
        for (const auto& entry : session.acceptList) {
            if (ListEntryMatches(entry, summary.from)) {
                session.context.log.WriteSessionLine(" - accepted");
                return ScreenResult::Accepted;
            }
        }
    }
    if (!settings.rejectListEnabled) return ScreenResult::Neither;

    const bool customText = HasCustomText(session.rejectText);
    for (const auto& entry : session.rejectList) {
        if (!ListEntryMatches(entry, summary.originator)) continue;
        if (settings.forwardToEnabled) ForwardRejected(session);
        if (settings.bounceEnabled) ReturnRejected(session, customText);
        if (settings.deleteEnabled) {
            DeleteCurrentMessage(session);
            session.context.log.WriteSessionLine(" - rejected (deleted)");
        }
        return ScreenResult::Rejected;
    }
    return ScreenResult::Neither;
}

} // namespace zelm
