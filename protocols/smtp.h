#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/engine_context.h"
#include "protocols/tls.h"
#include "protocols/transport.h"

// The SMTP sender: one complete dialogue per message on the `SMTP` connection, with every
// outcome in the session log and every failure in the error log and the outbox.
namespace zelm {

/// Outcome of the last SmtpSendMessage; the numbers are the ones the logs and callers know.
enum class SendStatus {
    Sent = 0,        ///< the server accepted the message data
    Failed = 1,      ///< a step was refused or the connection broke; recorded for a retry
    NotReachable = 2 ///< no connection to the server; a batch stops here
};

/// The outgoing side of the session: the `SMTP` connection, the current mailbox's server and
/// sender, the attempt being made and the result of the last send. One per application.
class SmtpSender {
public:
    explicit SmtpSender(EngineContext& engineContext);

    /// Home folder, window, logs and the current mailbox (its outbox folder).
    EngineContext& context;
    /// Opened at the start and closed at the end of every send.
    Connection smtp;
    /// The mailbox's SMTP host text (a dotted IPv4 address or a host name), also sent in HELO.
    std::string host;
    /// The mailbox's SMTP port.
    int port = 25;
    /// The bare envelope sender address, taken from the mailbox's "SMTPFrom".
    std::string senderAddress;
    /// How the dialogue is protected; anything but None greets with EHLO.
    ConnectionSecurity security = ConnectionSecurity::None;
    /// SHA-256 fingerprint of a server certificate the user accepted ("" for none).
    std::string certFingerprint;
    /// Log in with AUTH (PLAIN, else LOGIN) after EHLO; only over an encrypted connection.
    bool authEnabled = false;
    /// The AUTH user name and password.
    std::string authUserId;
    std::string authPassword;
    /// AUTH may go over an unencrypted connection when the server is on loopback (tests).
    bool plainAuthOnLoopback = false;
    /// The number of the delivery attempt now being made (1 for a message sent at once).
    int attemptNumber = 1;
    /// The outcome of the last send.
    SendStatus sendStatus = SendStatus::Sent;
    /// The outbox file whose message is being sent again ("" for a message sent at once); a
    /// failed attempt stores the message in its place and clears this.
    std::string retriedOutboxFile;
};

/// The Options page's MaxAttempts; nullopt when its text is not a whole number.
std::optional<std::int32_t> ReadMaxAttempts(EngineUi& ui);

/// " - attempt N" and " (will try again)" or " (message deleted)" for failure lines. A maximum
/// of 0 or less, or one that is not a number, keeps the message.
std::string AttemptSuffix(int attemptNumber, std::optional<std::int32_t> maxAttempts);

/// Sends one message (lines without line ends) to the recipients and sets sendStatus. Empty
/// recipients and addresses holding CR or LF never reach the envelope. With TLS or AUTH the
/// dialogue greets with EHLO; a connection that was to be encrypted and is not, or an AUTH
/// that cannot go out encrypted, ends the dialogue before anything of the message is sent. A
/// failed dialogue is recorded once with RecordFailedAttempt. Throws ZelmError only when the
/// outbox cannot be written.
void SmtpSendMessage(SmtpSender& sender, const std::vector<std::string>& recipients,
                     MessageLines message);

} // namespace zelm
