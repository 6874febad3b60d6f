#include "session/screening.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "core/string_helpers.h"
#include "messages/compose.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/actions.h"
#include "session/test_run.h"

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

// Where the custom reply's template is written: the home folder, or for a test run, which
// leaves the home folder as it is, a private folder of its own that goes with this object.
class ReplyFolder {
public:
    explicit ReplyFolder(const ProcessingSession& session) {
        if (!session.testRun) {
            m_path = session.context.programDir;
            return;
        }
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelm-test-run-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw ZelmError("Cannot make a temporary folder for the custom reply");
        }
        m_own = pattern;
        m_path = pattern + "/";
    }
    ~ReplyFolder() {
        if (!m_own.empty()) ::rmdir(m_own.c_str());
    }
    ReplyFolder(const ReplyFolder&) = delete;
    ReplyFolder& operator=(const ReplyFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_own;
};

void BeginResponse(ProcessingSession& session, const std::string& what) {
    if (session.testRun) session.testRun->BeginResponse(what);
}

void ForwardRejected(ProcessingSession& session) {
    const std::string& address = session.settings.forwardAddress;
    BeginResponse(session, "Forward");
    if (!RetrieveForResponse(session, "forward of the rejected message")) return;
    MessageState& message = session.Message();
    message.messageVariables.RebuildNames(message.headerSummary.fields, session.textVariableNames);
    ExpandRecipients(address, message);
    SendMail(session, message.recipientList, ReceivedMessage(session));
    session.context.log.WriteSessionLine(" - rejected (forwarded to " + address + ")");
}

void ReturnRejected(ProcessingSession& session, bool customText) {
    MessageState& message = session.Message();
    const std::string returnPath = message.headerSummary.returnPath;
    BeginResponse(session, customText ? "Return with the custom reply" : "Return");
    if (IsAutomaticMessage(session.pop3.headerLines, returnPath)) {
        session.context.log.WriteSessionLine(" - rejected (not returned: automatic message)");
        return;
    }
    if (!RetrieveForResponse(session, "return of the rejected message")) return;
    message.messageVariables.RebuildNames(message.headerSummary.fields, session.textVariableNames);
    if (!customText) {
        ExpandRecipients(returnPath, message);
        SendMail(session, message.recipientList, ReceivedMessage(session));
        session.context.log.WriteSessionLine(" - rejected (returned to " + returnPath + ")");
        return;
    }

    OutgoingMessage reply;
    try {
        const ReplyFolder folder(session);
        const TransientFile replyTemplate(
            WriteRejectReplyTemplate(folder.Path(), session.rejectText, returnPath));
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
    SendMail(session, message.recipientList, reply);
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
                if (session.testRun) session.testRun->Message()->acceptEntry = entry;
                session.context.log.WriteSessionLine(" - accepted");
                return ScreenResult::Accepted;
            }
        }
    }
    if (!settings.rejectListEnabled) return ScreenResult::Neither;

    const bool customText = HasCustomText(session.rejectText);
    for (const auto& entry : session.rejectList) {
        if (!ListEntryMatches(entry, summary.originator)) continue;
        if (session.testRun) {
            session.testRun->Message()->rejectEntry = entry;
            session.testRun->Message()->originator = summary.originator;
        }
        if (settings.forwardToEnabled) ForwardRejected(session);
        if (settings.bounceEnabled) ReturnRejected(session, customText);
        if (settings.deleteEnabled) {
            BeginResponse(session, "Delete");
            DeleteCurrentMessage(session);
            session.context.log.WriteSessionLine(" - rejected (deleted)");
        }
        if (session.testRun) session.testRun->EndStep();
        return ScreenResult::Rejected;
    }
    return ScreenResult::Neither;
}

} // namespace zelm
