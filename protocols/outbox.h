#pragma once

#include <string>
#include <vector>

#include "protocols/smtp.h"

// The outbox: a message whose delivery failed waits as one file in its mailbox's folder and is
// tried again each time a session has logged in to that mailbox.
namespace zelm {

/// Stores a failed message with sender.attemptNumber in the current mailbox's outbox, unless
/// MaxAttempts has been reached. A MaxAttempts text that is not a whole number keeps the
/// message, as with no maximum, and writes one error-log line.
void RecordFailedAttempt(SmtpSender& sender, const std::vector<std::string>& recipients,
                         MessageLines message);

/// Sends every message waiting in the current mailbox's outbox once more; each file is removed
/// after its attempt (a failure stores a fresh one). An unreachable server stops the batch.
void SendPendingMail(SmtpSender& sender);

} // namespace zelm
