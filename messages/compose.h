#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine_ui.h"
#include "messages/header_summary.h"

// Outgoing messages: placeholders, the RFC 822 date, the MIME layout and the base64 attachment.
// Composition builds the whole message in memory as lines without line ends; the SMTP sender
// adds the envelope, the dot-stuffing and the CR LF.
namespace zelm {

/// The fixed MIME boundary of every message that carries an attachment.
inline constexpr const char* MimeBoundary = "ZELM_Message_Boundary";

/// The complete message last composed: header, empty line, body, MIME parts; no line ends.
using OutgoingMessage = std::vector<std::string>;

/// "DateStamp" value: "ddd, dd mmm yy" for the moment in local time, English names.
std::string FormatDateStamp(std::time_t moment);
/// "TimeStamp" value: "hh:mm:ss" on the 24-hour clock for the moment in local time.
std::string FormatTimeStamp(std::time_t moment);
/// "Date:" header text, e.g. "Sat, 5 Dec 2026 15:30:07 +0100", with the live zone offset.
std::string FormatRfc822Date(std::time_t moment);

/// Replaces "{name}" placeholders by DateStamp, TimeStamp or a message variable; an inserted
/// value is never scanned again, and a placeholder without a value stays as written.
std::string SubstitutePlaceholders(const std::string& line, const MessageVariables& variables,
                                   std::time_t now);
/// SubstitutePlaceholders at the current time.
std::string SubstitutePlaceholders(const std::string& line, const MessageVariables& variables);

/// The bytes in base64 on one line, with "=" padding.
std::string EncodeBase64(std::string_view bytes);

/// Appends the file's bytes in base64 as lines of 76 characters (the last one shorter); an
/// empty file adds nothing. Throws ZelmError when the file cannot be opened or read.
void EncodeFileBase64(const std::string& path, std::vector<std::string>& lines);

/// The file name of an attachment path: after the last "/", or for a stored Windows path
/// without any "/", after the last "\" or ":".
std::string AttachmentFileName(const std::string& path);

/// What composition takes from the session besides the template and the variables.
struct ComposeInputs {
    /// The mailbox's POP3 user id, part of the "Message-Id".
    std::string userId;
    /// The mailbox's SMTP host text, the "Message-Id" domain.
    std::string smtpHost;
    /// The server's 1-based number of the message being processed.
    int messageNumber = 0;
    /// The moment of composition: "Date:", "Message-Id" and the stamps.
    std::time_t now = 0;
};

/// Composes a message from a template file (header lines, empty line, optional "Attachment:"
/// line, body) and the message variables of state, and fills state.recipientList from the
/// template's "To:" and "Cc:" lines. Panel 2 shows "Encoding" while an attachment is encoded.
/// Throws ZelmError when the template or the attachment cannot be read; state is then unchanged.
OutgoingMessage ComposeMessage(const std::string& templatePath, const ComposeInputs& inputs,
                               MessageState& state, EngineUi& ui);

/// Adds a line at the end of a composed message's header, right before the empty line that ends
/// it (composition never puts an empty line into the header).
void AddLastHeaderLine(OutgoingMessage& message, const std::string& line);

} // namespace zelm
