#include "protocols/pop3.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string_view>
#include <unistd.h>

#include "core/string_helpers.h"
#include "core/zelm_error.h"

namespace zelm {

namespace {

// Room beyond the size LIST gave: the dot-stuffing read with the lines, and a lone CR or LF
// that the text keeps as a CR LF line end.
constexpr std::size_t kRetrSlackBytes = 1024;

// Every judgement: the reply's first three characters, case-sensitive.
bool IsOk(const std::string& reply) {
    return reply.compare(0, 3, "+OK") == 0;
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// Bytes after the reply's first line: before a switch to TLS they could only be meant to be
// taken as the encrypted server's answers.
bool HasMoreThanOneLine(const std::string& reply) {
    return reply.find("\r\n") + 2 < reply.size();
}

// Reads a reply. A socket failure is swallowed as the `Pop3` connection's error handler
// does: the connection is closed, the cause logged, and the empty reply fails the judgement,
// so each operation takes its own failure path.
std::string Read(Pop3Client& pop3, bool multiLine) {
    try {
        return ReadPop3Response(pop3.connection, multiLine);
    } catch (const SocketError& error) {
        pop3.connection.Close();
        pop3.context.log.WriteErrorLine(std::string("Pop3: ") + error.what());
        return {};
    }
}

// Sends a command; false, with the connection closed and the cause logged, when it failed.
bool Send(Pop3Client& pop3, const std::string& command) {
    try {
        pop3.connection.SendText(command);
        return true;
    } catch (const SocketError& error) {
        pop3.connection.Close();
        pop3.context.log.WriteErrorLine(std::string("Pop3: ") + error.what());
        return false;
    }
}

std::string Exchange(Pop3Client& pop3, const std::string& command, bool multiLine = false) {
    if (!Send(pop3, command)) return {};
    return Read(pop3, multiLine);
}

// A failure the user should see: a message box in the interactive browser, an error-log line
// otherwise.
void Report(Pop3Client& pop3, const std::string& logPrefix, const std::string& reply) {
    if (pop3.context.interactiveMode) {
        // The server's reply is the message; with none (a broken connection) the box must
        // still say something.
        pop3.context.ui.ShowMessage(reply.empty() ? logPrefix + "no reply from the server" : reply);
    } else {
        pop3.context.log.WriteErrorLine(logPrefix + reply);
    }
}

void SetMessageButtons(EngineUi& ui, bool enabled) {
    ui.SetBrowserButton(BrowserButton::GetMessage, enabled);
    ui.SetBrowserButton(BrowserButton::GetSummary, enabled);
    ui.SetBrowserButton(BrowserButton::DeleteMessage, enabled);
}

// Hands each line of text to take, split as SplitListValue splits a stored list (CR LF, or a
// lone CR or LF; no line after a final break). Every reply of a session passes through here,
// so the breaks are found with memchr rather than byte by byte.
template <typename Take>
void ForEachReplyLine(std::string_view text, Take take) {
    if (text.empty()) return;
    const char* const end = text.data() + text.size();
    const auto next = [end](const char* from, char c) {
        const void* found = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return found ? static_cast<const char*>(found) : end;
    };
    const char* start = text.data();
    const char* cr = next(start, '\r');
    const char* lf = next(start, '\n');
    for (;;) {
        const char* lineEnd = std::min(cr, lf);
        if (lineEnd == end) break;
        take(std::string_view(start, static_cast<std::size_t>(lineEnd - start)));
        start = lineEnd + 1;
        if (*lineEnd == '\r' && start < end && *start == '\n') ++start;
        if (cr < start) cr = next(start, '\r');
        if (lf < start) lf = next(start, '\n');
    }
    if (start < end) take(std::string_view(start, static_cast<std::size_t>(end - start)));
}

// Hands take the reply's lines without the status line and the terminating "." line.
template <typename Take>
void ForEachReplyBodyLine(std::string_view reply, Take take) {
    bool status = true;
    std::optional<std::string_view> previous;
    ForEachReplyLine(reply, [&](std::string_view line) {
        if (status) {
            status = false;
            return;
        }
        // A line is known not to be the last one only once the next has been found.
        if (previous) take(*previous);
        previous = line;
    });
}

// Replaces lines by the reply's lines without the status line and the terminating "." line,
// each written into the room of the line it replaces.
void AssignReplyLines(std::vector<std::string>& lines, const std::string& reply) {
    std::size_t count = 0;
    ForEachReplyBodyLine(reply, [&](std::string_view line) {
        if (count < lines.size()) {
            lines[count].assign(line);
        } else {
            lines.emplace_back(line);
        }
        ++count;
    });
    lines.resize(count);
}

// The reply's lines without the status line and the terminating "." line.
std::vector<std::string> ReplyLines(const std::string& reply) {
    std::vector<std::string> lines;
    AssignReplyLines(lines, reply);
    return lines;
}

class FileCloser {
public:
    explicit FileCloser(int fd) : m_fd(fd) {}
    ~FileCloser() { ::close(m_fd); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int m_fd;
};

// The text is already the file's bytes: it goes out in one write, repeated only for what a
// short write left.
void WriteMessageFile(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw ZelmError("Cannot write " + path + ": " + std::strerror(errno));
    FileCloser closer(fd);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw ZelmError("Cannot write " + path + ": " + std::strerror(errno));
        }
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

Pop3Client::Pop3Client(EngineContext& engineContext)
    : context(engineContext),
      connection(engineContext, "Pop3: Unable to read data from Socket", 110) {
    // Whatever closes the connection (QUIT, a dead server, a socket error), the window shows it.
    connection.SetCloseHandler([this] {
        context.ui.SetBrowserConnected(false);
        context.ui.SetStatusPanel(1, "Disconnected");
    });
}

void Pop3Client::ClearHeaderLines() {
    SetAsideStrings(headerLines, spareHeaderLines);
}

bool Pop3Open(Pop3Client& pop3, const std::string& userId, const std::string& password) {
    EngineContext& context = pop3.context;
    const std::string& mailbox = context.currentMailbox;
    // A total from an earlier mailbox must never be taken up for this one.
    pop3.messageTotal = 0;

    try {
        pop3.connection.Connect();
    } catch (const SocketError&) {
        if (context.interactiveMode) {
            context.ui.ShowMessage("Could not connect to " + mailbox);
            context.interactiveMode = false;
        } else {
            context.log.WriteErrorLine("Pop3 Open: Could not connect to " + mailbox);
        }
        return false;
    }
    context.ui.SetStatusPanel(1, "Connected to " + mailbox);
    // No browsing while a session uses the connection.
    if (!context.interactiveMode) context.ui.SetBrowserButton(BrowserButton::Connect, false);

    const auto refused = [&](const std::string& prefix, const std::string& reply) {
        Report(pop3, prefix, reply);
        context.interactiveMode = false;
        return false;
    };
    // A conversation that was to be encrypted and cannot be ends here, before the login.
    const auto unsecured = [&](const std::string& prefix, const std::string& reply) {
        pop3.connection.Close();
        return refused(prefix, reply);
    };
    const auto startTls = [&] {
        try {
            pop3.connection.StartTls(pop3.certFingerprint);
            return true;
        } catch (const SocketError& error) {
            return unsecured("Pop3 TLS: ", error.what());
        }
    };

    if (pop3.security == ConnectionSecurity::Tls && !startTls()) return false;
    std::string reply = Read(pop3, false);
    if (!IsOk(reply)) return refused("Pop3 Open: ", reply);

    if (pop3.security == ConnectionSecurity::StartTls) {
        reply = Exchange(pop3, "STLS\r\n");
        if (!IsOk(reply) || HasMoreThanOneLine(reply)) return unsecured("Pop3 STLS: ", reply);
        if (!startTls()) return false;
    }

    // A line break in a stored value would put a second command on the wire.
    if (HasLineBreak(userId)) return refused("Pop3 USER: ", "not sent, the user id holds CR or LF");
    reply = Exchange(pop3, "USER " + userId + "\r\n");
    if (!IsOk(reply)) return refused("Pop3 USER: ", reply);

    if (HasLineBreak(password)) {
        return refused("Pop3 PASS: ", "not sent, the password holds CR or LF");
    }
    reply = Exchange(pop3, "PASS " + password + "\r\n");
    if (!IsOk(reply)) return refused("Pop3 PASS: ", reply);

    // Logged in: from here the result is true. A STAT that fails or gives no count leaves
    // the total at 0, so no message is taken up and the mailbox still closes normally.
    reply = Exchange(pop3, "STAT \r\n");
    const auto fields = Split(reply, " ");
    const std::string countText = fields.count >= 2 ? Trim(fields.pieces[1]) : std::string();
    const auto count = TextToIntDef(countText, -1);
    if (!IsOk(reply) || count < 0 || count != TextToIntDef(countText, 0)) {
        refused("Pop3 STAT: ", reply);
        return true;
    }
    pop3.messageTotal = count;
    context.ui.ShowBrowserText("Mailbox: " + mailbox + "\r\nTotal messages: " + fields.pieces[1] +
                               "\r\nTotal Bytes: " + (fields.count >= 3 ? fields.pieces[2] : ""));
    context.ui.SetBrowserButton(BrowserButton::GetSummary, true);
    return true;
}

bool Pop3Top(Pop3Client& pop3, int n) {
    return Pop3TopReply(pop3, n, Exchange(pop3, "TOP " + std::to_string(n) + " 0\r\n", true));
}

bool Pop3TopReply(Pop3Client& pop3, int n, const std::string& reply) {
    EngineContext& context = pop3.context;
    SetMessageButtons(context.ui, false);
    context.ui.SetStatusPanel(1, "Connected to " + context.currentMailbox + " (msg " +
                                     std::to_string(n) + " of " +
                                     std::to_string(pop3.messageTotal) + " )");

    if (!IsOk(reply)) {
        // No header of this message: nothing may be judged on what an earlier TOP left.
        pop3.headerLines.clear();
        context.log.WriteErrorLine("Pop3 TOP: \r\n" + reply);
        return false;
    }
    // TOP keeps the server's dot-stuffing: header lines are taken as sent.
    TakeBackStrings(pop3.headerLines, pop3.spareHeaderLines);
    AssignReplyLines(pop3.headerLines, reply);
    if (pop3.headerParser) {
        while (!pop3.headerParser(pop3.headerLines))
            context.ui.PumpEvents();
    }
    if (pop3.messageTotal > 0 && pop3.nextHeaderIndex <= pop3.messageTotal &&
        context.interactiveMode) {
        context.ui.SetBrowserHeaderTimer(true);
    }
    SetMessageButtons(context.ui, true);
    return true;
}

bool Pop3Retr(Pop3Client& pop3, int n) {
    EngineContext& context = pop3.context;
    SetMessageButtons(context.ui, false);
    context.ui.SetStatusPanel(2, "Retrieving " + std::to_string(n));

    // The message goes straight into one text sized by LIST: a large one is never held twice.
    MessageText lines;
    std::string reply;
    if (Send(pop3, "RETR " + std::to_string(n) + "\r\n")) {
        try {
            const auto expected = static_cast<std::size_t>(std::max(pop3.messageSize, 0));
            reply = ReadPop3Lines(pop3.connection, lines, expected + kRetrSlackBytes);
        } catch (const SocketError& error) {
            pop3.connection.Close();
            pop3.context.log.WriteErrorLine(std::string("Pop3: ") + error.what());
            lines.clear();
        }
    }
    if (!IsOk(reply)) {
        pop3.messageBody.clear();
        context.log.WriteErrorLine("MSG RETR: \r\n" + reply.substr(0, reply.find_first_of("\r\n")));
        context.ui.SetStatusPanel(2, "");
        return false;
    }
    context.ui.PumpEvents();

    lines.RemoveDotStuffing();
    if (pop3.writeMessageFile) WriteMessageFile(context.MessageFilePath(), lines.Text());

    // The body follows the first empty line; a message without one is all header.
    std::size_t separator = 0;
    while (separator < lines.size() && !lines[separator].empty())
        ++separator;
    lines.EraseFront(separator + 1);
    pop3.messageBody = std::move(lines);

    pop3.messageRetrieved = true;
    context.ui.SetStatusPanel(2, "");
    SetMessageButtons(context.ui, true);
    return true;
}

bool Pop3Dele(Pop3Client& pop3, int n) {
    const std::string reply = Exchange(pop3, "DELE " + std::to_string(n) + "\r\n");
    if (IsOk(reply)) return true;
    Report(pop3, "Pop3 DEL: ", reply);
    return false;
}

bool Pop3Rset(Pop3Client& pop3) {
    const std::string reply = Exchange(pop3, "RSET\r\n");
    if (IsOk(reply)) return true;
    pop3.context.log.WriteErrorLine("Pop3 RSET: " + reply);
    return false;
}

bool Pop3Quit(Pop3Client& pop3) {
    const std::string reply = Exchange(pop3, "QUIT\r\n");
    const bool accepted = IsOk(reply);
    if (!accepted) Report(pop3, "Pop3 QUIT: ", reply);
    pop3.connection.Close();
    // The logs are open exactly while a processing session runs; a session keeps the flag
    // until its own end.
    if (!pop3.context.log.IsOpen()) pop3.context.connectionInUse = false;
    return accepted;
}

bool Pop3Uidl(Pop3Client& pop3, int n) {
    pop3.messageUid.clear();
    const std::string reply = Exchange(pop3, "UIDL " + std::to_string(n) + "\r\n");
    if (!IsOk(reply)) {
        pop3.context.log.WriteErrorLine("Pop3 UID: " + reply);
        return false;
    }
    // The third blank-separated field; taken in place, as this runs for every message.
    if (const auto uid = SplitPiece(reply, " ", 2)) pop3.messageUid.assign(TrimmedView(*uid));
    return true;
}

bool Pop3List(Pop3Client& pop3, int n) {
    const std::string reply = Exchange(pop3, "LIST " + std::to_string(n) + "\r\n");
    if (!IsOk(reply)) {
        pop3.context.log.WriteErrorLine("Pop3 List: " + reply);
        return false;
    }
    const auto size = SplitPiece(reply, " ", 2);
    pop3.messageSize = size ? TextToIntDef(TrimmedView(*size), 0) : 0;
    return true;
}

namespace {

// A message number as a listing line gives it: decimal digits only, within 1..total.
std::optional<int> ListedNumber(std::string_view text, int total) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > total) return std::nullopt;
    return number;
}

// Reads a multi-line listing after command. Each line "n value" gives number n its value
// when valueOf accepts the second field; a number given twice is left to the per-message
// command, as is every number not given.
template <typename Value, typename ValueOf>
bool ReadListing(Pop3Client& pop3, const std::string& command, const std::string& logPrefix,
                 std::vector<std::optional<Value>>& values, ValueOf valueOf) {
    const int total = std::max(0, pop3.messageTotal);
    values.assign(static_cast<std::size_t>(total), std::nullopt);
    const std::string reply = Exchange(pop3, command, true);
    if (!IsOk(reply)) {
        pop3.context.log.WriteErrorLine(logPrefix + reply);
        return false;
    }
    std::vector<bool> seen(static_cast<std::size_t>(total), false);
    ForEachReplyBodyLine(reply, [&](std::string_view line) {
        // The first two of the fields that single blanks separate; a line with one field is
        // no listing line.
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos) return;
        const auto number = ListedNumber(line.substr(0, blank), total);
        if (!number) return;
        const auto index = static_cast<std::size_t>(*number - 1);
        if (seen[index]) {
            values[index].reset();
            return;
        }
        seen[index] = true;
        const std::string_view rest = line.substr(blank + 1);
        values[index] = valueOf(rest.substr(0, rest.find(' ')));
    });
    return true;
}

} // namespace

bool Pop3Capa(Pop3Client& pop3, bool& pipelining) {
    pipelining = false;
    const std::string reply = Exchange(pop3, "CAPA\r\n", true);
    if (!IsOk(reply)) return false;
    for (const std::string& line : ReplyLines(reply)) {
        const auto fields = Split(Trim(line), " ");
        if (fields.count >= 1 && EqualsNoCase(fields.pieces[0], "PIPELINING")) pipelining = true;
    }
    return true;
}

bool Pop3UidlAll(Pop3Client& pop3, MailboxListing& listing) {
    return ReadListing(pop3, "UIDL\r\n", "Pop3 UIDL: ", listing.uids,
                       [](std::string_view field) -> std::optional<std::string> {
                           const std::string_view uid = TrimmedView(field);
                           if (uid.empty()) return std::nullopt;
                           return std::string(uid);
                       });
}

bool Pop3ListAll(Pop3Client& pop3, MailboxListing& listing) {
    return ReadListing(pop3, "LIST\r\n", "Pop3 LIST: ", listing.sizes,
                       [](std::string_view field) -> std::optional<int> {
                           // A size as LIST n would read it: digits, 0 allowed.
                           const std::string_view size = TrimmedView(field);
                           if (size == "0") return 0;
                           return ListedNumber(size, std::numeric_limits<int>::max());
                       });
}

std::vector<std::string> Pop3TopPipelined(Pop3Client& pop3, const std::vector<int>& numbers,
                                          std::size_t window) {
    std::vector<std::string> replies;
    replies.reserve(numbers.size());
    std::size_t sent = 0;
    const std::size_t inFlight = std::max<std::size_t>(1, window);
    try {
        while (replies.size() < numbers.size()) {
            // The window is filled in one send, so a burst costs one round trip and neither
            // side's buffers can fill with unread replies. It is topped up only once half of
            // it has been answered: the server never runs dry, and each send carries many
            // commands instead of one (on loopback a send also runs the receiving side's
            // network processing, and wakes the server once for all of them).
            if (sent < numbers.size() && sent - replies.size() <= inFlight / 2) {
                std::string commands;
                while (sent < numbers.size() && sent - replies.size() < inFlight) {
                    commands += "TOP ";
                    commands += std::to_string(numbers[sent]);
                    commands += " 0\r\n";
                    ++sent;
                }
                pop3.connection.SendText(commands);
            }
            replies.push_back(ReadPipelinedPop3Response(pop3.connection, true));
            if (!pop3.connection.Active()) break;
        }
    } catch (const SocketError& error) {
        pop3.connection.Close();
        pop3.context.log.WriteErrorLine(std::string("Pop3: ") + error.what());
    }
    replies.resize(numbers.size());
    return replies;
}

} // namespace zelm
