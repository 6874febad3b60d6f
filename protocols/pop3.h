#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/engine_context.h"
#include "core/message_text.h"
#include "protocols/tls.h"
#include "protocols/transport.h"

// The POP3 client: one operation per command, each sending the command, reading and judging
// the reply ("+OK" or not), and either filling the conversation's state or reporting the
// failure (a message box in the interactive browser, an error-log line otherwise).
namespace zelm {

/// Reduces the header lines of the last TOP to the header summary; false asks to be called
/// again once the window has had its events.
using HeaderParser = std::function<bool(const std::vector<std::string>& headerLines)>;

/// The `Pop3` connection and the values its operations fill. One per application; a
/// conversation lasts one mailbox (a session) or one Connect (the interactive browser).
class Pop3Client {
public:
    /// The connection reports to context and starts on port 110.
    explicit Pop3Client(EngineContext& context);

    /// The context: home folder, logs, window and the session flags.
    EngineContext& context;
    /// The `Pop3` connection; the caller sets its endpoint and port before Pop3Open.
    Connection connection;
    /// How Pop3Open protects the conversation; the caller sets it with the endpoint.
    ConnectionSecurity security = ConnectionSecurity::None;
    /// SHA-256 fingerprint of a server certificate the user accepted ("" for none).
    std::string certFingerprint;

    /// Messages in the mailbox from STAT (0 when STAT failed).
    int messageTotal = 0;
    /// Size in bytes of the last message asked with LIST.
    int messageSize = 0;
    /// Unique id of the last message asked with UIDL ("" when none was given).
    std::string messageUid;
    /// Header lines of the last message read with TOP.
    std::vector<std::string> headerLines;
    /// Lines set aside by ClearHeaderLines: the next TOP reply is read into their room, so a
    /// session does not allocate every header line of every message anew. Never read.
    std::vector<std::string> spareHeaderLines;
    /// Body lines of the last message read with RETR.
    MessageText messageBody;
    /// Interactive browser: number of the next message whose header is to be fetched.
    int nextHeaderIndex = 1;
    /// Set when Pop3Retr succeeds; the session clears it before each message.
    bool messageRetrieved = false;
    /// Pop3Retr writes the message to "zelm.dat"; a test run, which writes nothing, clears it.
    bool writeMessageFile = true;
    /// Called by Pop3Top with the header lines; the session wires it to ParseHeaders.
    HeaderParser headerParser;

    /// Empties headerLines for the next message, setting the lines aside for their room.
    void ClearHeaderLines();
};

/// Connects and logs in with USER and PASS, then reads the message total with STAT. True once
/// PASS was accepted (a failed STAT leaves messageTotal 0). With TLS asked for, the connection
/// is encrypted before USER (from the first byte, or after STLS) or the conversation ends
/// there, closed, with the reason reported: USER and PASS never go out unencrypted then. The
/// connection may stay open after another false result; the caller checks and ends it.
bool Pop3Open(Pop3Client& pop3, const std::string& userId, const std::string& password);
/// TOP n 0: fills headerLines and calls the header parser. False when the reply was refused.
bool Pop3Top(Pop3Client& pop3, int n);
/// RETR n: fills messageBody with the body, writes the whole message to "zelm.dat" (unless
/// writeMessageFile is cleared) and sets
/// messageRetrieved. False when the reply was refused. Throws ZelmError when "zelm.dat"
/// cannot be written.
bool Pop3Retr(Pop3Client& pop3, int n);
/// DELE n: true when the server accepted it.
bool Pop3Dele(Pop3Client& pop3, int n);
/// RSET: true when the server accepted it.
bool Pop3Rset(Pop3Client& pop3);
/// QUIT, then closes the connection whatever the reply; outside a session it also clears
/// ConnectionInUse. True when the server accepted it.
bool Pop3Quit(Pop3Client& pop3);
/// UIDL n: sets messageUid (cleared first). True when the server accepted it.
bool Pop3Uidl(Pop3Client& pop3, int n);
/// LIST n: sets messageSize (0 when the size is not a number; unchanged on a refusal). True
/// when the server accepted it.
bool Pop3List(Pop3Client& pop3, int n);

/// What a listing of the whole mailbox gave for each message number (index n - 1); a number
/// that was not listed, or listed in a malformed or ambiguous line, has no value.
struct MailboxListing {
    std::vector<std::optional<std::string>> uids;
    std::vector<std::optional<int>> sizes;
};

/// CAPA: true when the server listed its capabilities; pipelining tells whether PIPELINING is
/// one of them. A refusal is not reported: a server without CAPA is simply an older one.
bool Pop3Capa(Pop3Client& pop3, bool& pipelining);
/// UIDL without a number: every message's unique id into listing.uids (messageTotal entries).
/// False, with one error-log line "Pop3 UIDL: " and the reply, when it was refused.
bool Pop3UidlAll(Pop3Client& pop3, MailboxListing& listing);
/// LIST without a number: every message's size into listing.sizes (messageTotal entries).
/// False, with one error-log line "Pop3 LIST: " and the reply, when it was refused.
bool Pop3ListAll(Pop3Client& pop3, MailboxListing& listing);
/// TOP n 0 for each of numbers, sent ahead with at most window commands awaiting their reply
/// (topped up once half of them have been answered); the replies as read, in order, "" for
/// each one lost with the connection. Nothing is judged.
std::vector<std::string> Pop3TopPipelined(Pop3Client& pop3, const std::vector<int>& numbers,
                                          std::size_t window);
/// What Pop3Top does with the reply once read: judged, headerLines filled, the parser called.
bool Pop3TopReply(Pop3Client& pop3, int n, const std::string& reply);

} // namespace zelm
