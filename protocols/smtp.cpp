#include "protocols/smtp.h"

#include "core/string_helpers.h"
#include "messages/compose.h"
#include "protocols/outbox.h"
#include "protocols/smtp_capabilities.h"

namespace zelm {

namespace {

/// DATA is sent in writes of about this size rather than one per line.
constexpr std::size_t DataBatchBytes = 256 * 1024;

bool HoldsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

/// The text with CR and LF shown as blanks, for a log line.
std::string ShownInLog(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

std::string JoinRecipients(const std::vector<std::string>& recipients) {
    std::string text;
    for (const auto& recipient : recipients) {
        if (!text.empty()) text += ",";
        text += recipient;
    }
    return text;
}

/// The envelope recipients: an empty entry (a reference that resolved to no address) would
/// make "RCPT TO:<>", which refuses the whole message, and an address holding CR or LF would
/// reach the server as a command of its own; both are left out, and never stored either.
std::vector<std::string> EnvelopeRecipients(SessionLog& log,
                                            const std::vector<std::string>& recipients) {
    std::vector<std::string> envelope;
    envelope.reserve(recipients.size());
    for (const auto& recipient : recipients) {
        if (Trim(recipient).empty()) continue;
        if (HoldsLineBreak(recipient)) {
            log.WriteSessionLine(" - recipient dropped (line break in address): " +
                                 ShownInLog(recipient));
            continue;
        }
        envelope.push_back(recipient);
    }
    return envelope;
}

/// One SMTP dialogue on an open connection. Every failure is logged here and reported by the
/// result; the caller records the message and closes the connection.
class Dialogue {
public:
    Dialogue(SmtpSender& sender, std::string recipientText, std::string suffix)
        : m_sender(sender), m_log(sender.context.log), m_recipientText(std::move(recipientText)),
          m_suffix(std::move(suffix)) {}

    /// Sends command (nothing for the greeting) and judges the reply by its first characters.
    bool Step(const std::string& command, const char* accepted, const char* errorPrefix) {
        std::string reply;
        try {
            if (!command.empty()) m_sender.smtp.SendText(command);
            reply = ReadSmtpReply(m_sender.smtp);
        } catch (const SocketError& error) {
            return SocketFailure(error, errorPrefix);
        }
        if (reply.starts_with(accepted)) {
            m_lastReply = std::move(reply);
            return true;
        }
        Rejected(reply, errorPrefix);
        return false;
    }

    /// HELO as ever, or with TLS or AUTH: EHLO, STARTTLS when asked for and AUTH when enabled.
    bool Greet() {
        const ConnectionSecurity security = m_sender.security;
        if (security == ConnectionSecurity::None && !m_sender.authEnabled)
            return Step("HELO " + m_sender.host + "\r\n", "250", "SMTP HELO: ");
        std::optional<SmtpCapabilities> offered = Ehlo();
        if (!offered) return false;
        if (security == ConnectionSecurity::StartTls) {
            if (!offered->startTls)
                return Refuse("the server does not offer STARTTLS", "SMTP STARTTLS: ");
            if (!Step("STARTTLS\r\n", "220", "SMTP STARTTLS: ")) return false;
            if (!EndsWithItsLastLine(m_lastReply)) {
                // Bytes after the reply could only be meant to pass for the encrypted
                // server's answers.
                m_broken = true;
                return Refuse("data after the reply, TLS not started: " + m_lastReply,
                              "SMTP STARTTLS: ");
            }
            if (!StartTls()) return false;
            // What the server offered before TLS counts no more (RFC 3207).
            offered = Ehlo();
            if (!offered) return false;
        }
        return !m_sender.authEnabled || Authenticate(*offered);
    }

    /// Switches the connection to TLS; a failure ends the dialogue without QUIT.
    bool StartTls() {
        try {
            m_sender.smtp.StartTls(m_sender.certFingerprint);
            return true;
        } catch (const SocketError& error) {
            return SocketFailure(error, "SMTP TLS: ");
        }
    }

    /// The message lines, dot-stuffed, in large writes, then the final dot and its reply.
    bool SendData(MessageLines message) {
        std::string reply;
        try {
            std::string batch;
            batch.reserve(DataBatchBytes + 1024);
            message.ForEach([&](std::string_view line) {
                if (!line.empty() && line[0] == '.') batch += '.';
                batch += line;
                batch += "\r\n";
                if (batch.size() >= DataBatchBytes) {
                    m_sender.smtp.SendText(batch);
                    batch.clear();
                }
            });
            batch += ".\r\n";
            m_sender.smtp.SendText(batch);
            reply = ReadSmtpReply(m_sender.smtp);
        } catch (const SocketError& error) {
            return SocketFailure(error, "SMTP .: ");
        }
        if (reply.starts_with("250")) return true;
        Rejected(reply, "SMTP .: ");
        return false;
    }

    /// QUIT after the server accepted the data, then the "sent" line. The message is delivered
    /// whatever the QUIT reply, so one that is not "2..." only goes to the error log (a retry
    /// would deliver it twice).
    void QuitAfterDelivery() {
        std::string reply;
        try {
            m_sender.smtp.SendText("QUIT\r\n");
            reply = ReadSmtpReply(m_sender.smtp);
        } catch (const SocketError& error) {
            reply = error.what();
        }
        m_log.WriteSessionLine(" - sent msg to " + m_recipientText);
        if (!reply.starts_with('2')) m_log.WriteErrorLine("SMTP QUIT: " + reply);
    }

    /// QUIT after a refused step, reply not judged; nothing to say on a broken connection.
    void QuitAfterRejection() {
        if (m_broken || !m_sender.smtp.Active()) return;
        try {
            m_sender.smtp.SendText("QUIT\r\n");
            ReadSmtpReply(m_sender.smtp);
        } catch (const SocketError&) {
            // The message is already recorded; a connection that breaks now changes nothing.
        }
    }

private:
    std::optional<SmtpCapabilities> Ehlo() {
        if (!Step("EHLO " + m_sender.host + "\r\n", "250", "SMTP EHLO: ")) return std::nullopt;
        return ParseEhloCapabilities(m_lastReply);
    }

    /// AUTH PLAIN, else AUTH LOGIN, as offered; the credentials go out encrypted only, unless
    /// the user allowed a plain connection to a server on loopback.
    bool Authenticate(const SmtpCapabilities& offered) {
        const Connection& smtp = m_sender.smtp;
        if (!smtp.Encrypted() && !(m_sender.plainAuthOnLoopback && smtp.PeerIsLoopback()))
            return Refuse("not sent, the connection is not encrypted", "SMTP AUTH: ");
        const std::string& user = m_sender.authUserId;
        const std::string& password = m_sender.authPassword;
        if (offered.OffersAuth("PLAIN")) {
            const std::string credentials = std::string(1, '\0') + user + '\0' + password;
            return Step("AUTH PLAIN " + EncodeBase64(credentials) + "\r\n", "235", "SMTP AUTH: ");
        }
        if (offered.OffersAuth("LOGIN")) {
            return Step("AUTH LOGIN\r\n", "334", "SMTP AUTH: ") &&
                   Step(EncodeBase64(user) + "\r\n", "334", "SMTP AUTH: ") &&
                   Step(EncodeBase64(password) + "\r\n", "235", "SMTP AUTH: ");
        }
        std::string mechanisms;
        for (const auto& mechanism : offered.authMechanisms)
            mechanisms += " " + mechanism;
        return Refuse(mechanisms.empty()
                          ? "the server offers no AUTH"
                          : "the server offers neither PLAIN nor LOGIN, only" + mechanisms,
                      "SMTP AUTH: ");
    }

    /// The reply ends with its first line that is not a continuation ("220-").
    static bool EndsWithItsLastLine(const std::string& reply) {
        for (std::size_t start = 0;;) {
            const std::size_t end = reply.find("\r\n", start);
            if (end == std::string::npos) return true;
            const bool continued = end >= start + 4 && reply[start + 3] == '-';
            if (!continued) return end + 2 == reply.size();
            start = end + 2;
        }
    }

    /// A step this side does not take: the reason stands in for the server's reply.
    bool Refuse(const std::string& reason, const char* errorPrefix) {
        Rejected(reason, errorPrefix);
        return false;
    }

    void Rejected(const std::string& reply, const char* errorPrefix) {
        m_log.WriteSessionLine(" - msg to " + m_recipientText + " not sent: " + reply + m_suffix);
        m_log.WriteErrorLine(errorPrefix + reply);
    }

    /// A connection that breaks mid-dialogue is a refused step: the message is kept for a retry.
    bool SocketFailure(const SocketError& error, const char* errorPrefix) {
        m_broken = true;
        Rejected(error.what(), errorPrefix);
        return false;
    }

    SmtpSender& m_sender;
    SessionLog& m_log;
    std::string m_recipientText;
    std::string m_suffix;
    std::string m_lastReply;
    bool m_broken = false;
};

/// Closes the `SMTP` connection when a send ends, also by an error.
class ConnectionCloser {
public:
    explicit ConnectionCloser(Connection& connection) : m_connection(connection) {}
    ~ConnectionCloser() { m_connection.Close(); }
    ConnectionCloser(const ConnectionCloser&) = delete;
    ConnectionCloser& operator=(const ConnectionCloser&) = delete;

private:
    Connection& m_connection;
};

} // namespace

SmtpSender::SmtpSender(EngineContext& engineContext)
    : context(engineContext), smtp(engineContext, "SMTP: Unable to read data from Socket", 0) {}

std::optional<std::int32_t> ReadMaxAttempts(EngineUi& ui) {
    const std::string text = ui.MaxAttemptsText();
    // The shared conversion has no failure result: a text that converts the same with two
    // different defaults is a whole number.
    const std::int32_t value = TextToIntDef(text, 0);
    if (value != TextToIntDef(text, 1)) return std::nullopt;
    return value;
}

std::string AttemptSuffix(int attemptNumber, std::optional<std::int32_t> maxAttempts) {
    const bool kept = !maxAttempts || *maxAttempts <= 0 || *maxAttempts > attemptNumber;
    return " - attempt " + std::to_string(attemptNumber) +
           (kept ? " (will try again)" : " (message deleted)");
}

void SmtpSendMessage(SmtpSender& sender, const std::vector<std::string>& recipients,
                     MessageLines message) {
    SessionLog& log = sender.context.log;
    const std::vector<std::string> envelope = EnvelopeRecipients(log, recipients);
    const std::string recipientText = JoinRecipients(envelope);
    const std::string suffix =
        AttemptSuffix(sender.attemptNumber, ReadMaxAttempts(sender.context.ui));
    sender.sendStatus = SendStatus::Failed;

    // HELO and MAIL FROM carry settings text; a line break there would be a second command.
    if (HoldsLineBreak(sender.host) || HoldsLineBreak(sender.senderAddress)) {
        log.WriteSessionLine(" - msg to " + recipientText +
                             " not sent: line break in the SMTP host or sender address" + suffix);
        log.WriteErrorLine("SMTP: line break in the SMTP host or sender address: " +
                           ShownInLog(sender.host) + " / " + ShownInLog(sender.senderAddress));
        RecordFailedAttempt(sender, envelope, message);
        return;
    }

    sender.smtp.SetEndpoint(sender.host);
    sender.smtp.SetPort(sender.port);
    try {
        sender.smtp.Connect();
    } catch (const SocketError&) {
        log.WriteSessionLine(" - msg to " + recipientText + " not sent: could not connect to " +
                             sender.host + suffix);
        log.WriteErrorLine("SMTP Open: Could not connect to " + sender.host);
        RecordFailedAttempt(sender, envelope, message);
        sender.sendStatus = SendStatus::NotReachable;
        return;
    }
    const ConnectionCloser closer(sender.smtp);

    Dialogue dialogue(sender, recipientText, suffix);
    bool accepted =
        (sender.security != ConnectionSecurity::Tls || dialogue.StartTls()) &&
        dialogue.Step("", "220", "SMTP Open: ") && dialogue.Greet() &&
        dialogue.Step("MAIL FROM:<" + sender.senderAddress + ">\r\n", "250", "SMTP FROM: ");
    for (std::size_t i = 0; accepted && i < envelope.size(); ++i)
        accepted = dialogue.Step("RCPT TO:<" + envelope[i] + ">\r\n", "250", "SMTP TO: ");
    accepted =
        accepted && dialogue.Step("DATA\r\n", "354", "SMTP DATA: ") && dialogue.SendData(message);

    if (accepted) {
        sender.sendStatus = SendStatus::Sent;
        dialogue.QuitAfterDelivery();
        return;
    }
    RecordFailedAttempt(sender, envelope, message);
    dialogue.QuitAfterRejection();
}

} // namespace zelm
