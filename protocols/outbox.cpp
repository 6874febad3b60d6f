#include "protocols/outbox.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

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

} // namespace

void RecordFailedAttempt(SmtpSender& sender, const std::vector<std::string>& recipients,
                         const std::vector<std::string>& message) {
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
    const std::string folder = CurrentOutboxFolder(sender);
    EnsureOutboxFolder(folder);
    WriteOutboxMessage(folder, OutboxMessage{sender.attemptNumber, recipients, message});
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
        SmtpSendMessage(sender, pending.recipients, pending.lines);
        // Removed only now: a failed attempt has stored its fresh copy, so nothing is lost.
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            throw ZelmError("Cannot delete outbox file " + path + ": " + std::strerror(errno));
        if (sender.sendStatus == SendStatus::NotReachable) break;
    }
}

} // namespace zelm
