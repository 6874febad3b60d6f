#include "protocols/outbox.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <utility>

#include "core/zelm_error.h"
#include "messages/data_file.h"

namespace zelm {

namespace {

std::string CurrentOutboxFolder(const SmtpSender& sender) {
    const EngineContext& context = sender.context;
    if (context.currentMailbox.empty())
        throw ZelmError("No current mailbox: there is no outbox to keep the message in");
    return OutboxFolder(context.programDir, context.currentMailbox);
}

/// Clears status panel 3 when the pending mail is done, also after an error.
class PendingPanel {
public:
    explicit PendingPanel(EngineUi& ui) : m_ui(ui) { m_ui.SetStatusPanel(3, "Pending mail..."); }
    ~PendingPanel() { m_ui.SetStatusPanel(3, ""); }
    PendingPanel(const PendingPanel&) = delete;
    PendingPanel& operator=(const PendingPanel&) = delete;

private:
    EngineUi& m_ui;
};

/// A send made from the outbox ends with no file named as being retried, also after an error.
class RetryEnd {
public:
    explicit RetryEnd(SmtpSender& sender) : m_sender(sender) {}
    ~RetryEnd() { m_sender.retriedOutboxFile.clear(); }
    RetryEnd(const RetryEnd&) = delete;
    RetryEnd& operator=(const RetryEnd&) = delete;

private:
    SmtpSender& m_sender;
};

} // namespace

void RecordFailedAttempt(SmtpSender& sender, const std::vector<std::string>& recipients,
                         MessageLines message) {
    EngineContext& context = sender.context;
    const std::optional<std::int32_t> maxAttempts = ReadMaxAttempts(context.ui);
    if (!maxAttempts) {
        // Losing the message for a typing error on the Options page would be worse than
        // keeping it once too often.
        context.log.WriteErrorLine("SMTP: MaxAttempts \"" + context.ui.MaxAttemptsText() +
                                   "\" is not a whole number; the message is kept for a retry");
    } else if (*maxAttempts > 0 && *maxAttempts <= sender.attemptNumber) {
        return;
    }
    const OutboxEntry failed(sender.attemptNumber, recipients, message);
    if (!sender.retriedOutboxFile.empty()) {
        // The fresh copy takes the place of the file it was read from, so a session killed at
        // any moment leaves the message in the outbox once, never twice.
        ReplaceOutboxMessage(std::exchange(sender.retriedOutboxFile, std::string()), failed);
        return;
    }
    const std::string folder = CurrentOutboxFolder(sender);
    EnsureOutboxFolder(folder);
    WriteOutboxMessage(folder, failed);
}

void SendPendingMail(SmtpSender& sender) {
    EngineContext& context = sender.context;
    context.ui.SetAbortButton("", AbortButtonColour::Red, true);
    context.ui.PumpEvents();

    const std::string folder = CurrentOutboxFolder(sender);
    EnsureOutboxFolder(folder);
    const std::vector<std::string> files = ListOutboxFiles(folder);
    if (files.empty()) return;

    const PendingPanel panel(context.ui);
    context.log.WriteSessionLine("SMTP pending msgs: ");
    for (const auto& path : files) {
        OutboxMessage pending;
        try {
            pending = ReadOutboxMessage(path);
        } catch (const ZelmError& error) {
            // One damaged file must not hold up the others for ever; it stays for the user.
            context.log.WriteErrorLine(std::string("SMTP pending msg skipped: ") + error.what());
            continue;
        }
        sender.attemptNumber = pending.attempts < INT_MAX ? pending.attempts + 1 : INT_MAX;
        sender.retriedOutboxFile = path;
        const RetryEnd retryEnd(sender);
        SmtpSendMessage(sender, pending.recipients, pending.lines);
        // A failed attempt that is kept has moved the file to a new name; a sent message, or one
        // that has had its attempts, goes now. Killed before this, the next session sends it once
        // more: the only message that can be sent twice is the one in flight.
        if (!sender.retriedOutboxFile.empty() && unlink(path.c_str()) != 0 && errno != ENOENT)
            throw ZelmError("Cannot delete outbox file " + path + ": " + std::strerror(errno));
        if (sender.sendStatus == SendStatus::NotReachable) break;
    }
}

} // namespace zelm
