#include "protocols/transport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string_view>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "core/string_helpers.h"
#include "core/unique_fd.h"
#include "protocols/tls.h"

namespace zelm {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Most bytes asked for by one read of each kind of reply.
constexpr std::size_t kPop3LineChunk = 200;
constexpr std::size_t kPop3MultiChunk = 1000;
constexpr std::size_t kSmtpChunk = 100;
// The probe after a reply that never became readable only asks whether anything is there.
constexpr std::size_t kProbeBytes = 2;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

enum class WaitOutcome { Ready, TimedOut };

// Waits for events on fd for up to limitMs (negative: no limit of our own), in slices with
// the UI pump between them so the window stays usable during long waits. fd is watched by
// reference: an event handled by the pump may close the connection, which ends the wait.
WaitOutcome WaitFor(EngineContext& context, SocketCalls& calls, const int& fd, short events,
                    int limitMs, int sliceMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(0, limitMs));
    const int slice = std::max(1, sliceMs);
    for (;;) {
        int timeout = slice;
        if (limitMs >= 0) {
            const auto remaining =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(remaining, 0, slice));
        }
        pollfd entry{fd, events, 0};
        const int ready = calls.poll(&entry, 1, timeout);
        if (ready > 0) return WaitOutcome::Ready;
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw SocketError("Waiting on the socket failed: " + ErrnoText(errno));
        }
        if (limitMs >= 0 && SteadyClock::now() >= deadline) return WaitOutcome::TimedOut;
        context.ui.PumpEvents();
        if (fd < 0) return WaitOutcome::Ready;
    }
}

// The readiness a TLS call asks to wait for; nullopt when it is done, closed or failed.
std::optional<short> TlsWait(TlsStatus status) {
    if (status == TlsStatus::WantRead) return POLLIN;
    if (status == TlsStatus::WantWrite) return POLLOUT;
    return std::nullopt;
}

// Milliseconds left until deadline, never negative.
long long RemainingMs(SteadyClock::time_point deadline) {
    return std::max<long long>(
        0, std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count());
}

std::optional<sockaddr_in> NumericAddress(const std::string& dotted, int port) {
    const auto pieces = Split(dotted, ".");
    if (pieces.count != 4) return std::nullopt;
    std::uint32_t value = 0;
    for (const auto& piece : pieces.pieces) {
        const auto field = TextToIntDef(piece, -1);
        if (field < 0 || field > 255) return std::nullopt;
        value = (value << 8) | static_cast<std::uint32_t>(field);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(value);
    return address;
}

void AppendWithoutNul(std::string& reply, const char* data, std::size_t size) {
    // A NUL byte is dropped on its own; the bytes after it are kept, so the terminator that may
    // follow still ends the read.
    const char* end = data + size;
    while (data < end) {
        const auto* nul = static_cast<const char*>(std::memchr(data, '\0', end - data));
        const char* stop = nul ? nul : end;
        reply.append(data, stop);
        data = nul ? nul + 1 : end;
    }
}

bool EndsWith(const std::string& text, const char* suffix, std::size_t length) {
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

enum class ReplyKind { Pop3Line, Pop3Multi, Smtp };

// Decides after each chunk whether a reply is complete. Each received byte is looked at once,
// so a reply of any size is read in linear time.
class ReplyEnd {
public:
    explicit ReplyEnd(ReplyKind kind) : m_kind(kind) {}

    bool Complete(const std::string& reply) {
        for (auto lf = reply.find('\n', m_scanned); lf != std::string::npos;
             lf = reply.find('\n', lf + 1)) {
            if (!m_haveStatus) {
                m_haveStatus = true;
                m_statusOk = reply.compare(0, 3, "+OK") == 0;
            }
            m_lastLineStart = m_lineStart;
            m_lineStart = lf + 1;
        }
        m_scanned = reply.size();
        if (!EndsWith(reply, "\r\n", 2)) return false;
        switch (m_kind) {
        case ReplyKind::Pop3Line:
            return true;
        case ReplyKind::Pop3Multi:
            // An error reply is one line (RFC 1939): waiting for a terminator after it would
            // stall for the whole read limit.
            return !m_statusOk || EndsWith(reply, "\r\n.\r\n", 5);
        case ReplyKind::Smtp:
            return !IsContinuation(reply, m_lastLineStart);
        }
        return true;
    }

private:
    // "250-..." announces more lines; the reply ends with the line whose code is followed by
    // anything else.
    static bool IsContinuation(const std::string& reply, std::size_t start) {
        const auto isDigit = [&](std::size_t i) { return reply[i] >= '0' && reply[i] <= '9'; };
        return reply.size() >= start + 4 && isDigit(start) && isDigit(start + 1) &&
               isDigit(start + 2) && reply[start + 3] == '-';
    }

    ReplyKind m_kind;
    std::size_t m_scanned = 0;
    std::size_t m_lineStart = 0;
    std::size_t m_lastLineStart = 0;
    bool m_haveStatus = false;
    bool m_statusOk = false;
};

// Finds where the first of several pipelined replies ends: its status line, or with a "+OK"
// multi-line reply the line holding only a dot. Looks at each byte a bounded number of times.
class PipelinedEnd {
public:
    explicit PipelinedEnd(bool multiLine) : m_multiLine(multiLine) {}

    // The length of the first reply in text, 0 while it is not complete.
    std::size_t Length(const std::string& text) {
        if (m_statusEnd == 0) {
            const auto crlf = text.find("\r\n");
            if (crlf == std::string::npos) return 0;
            m_statusEnd = crlf + 2;
            m_searchFrom = crlf;
            if (!m_multiLine || text.compare(0, 3, "+OK") != 0) return m_statusEnd;
        }
        if (!m_multiLine || text.compare(0, 3, "+OK") != 0) return m_statusEnd;
        const auto end = text.find("\r\n.\r\n", m_searchFrom);
        if (end != std::string::npos) return end + 5;
        // The terminator may begin in the last four bytes.
        m_searchFrom = std::max(m_searchFrom, text.size() >= 4 ? text.size() - 4 : 0);
        return 0;
    }

private:
    bool m_multiLine;
    std::size_t m_statusEnd = 0;
    std::size_t m_searchFrom = 0;
};

// The reply will not come or cannot be used: the conversation is out of step, so the
// connection is closed and the failure logged; callers judge the empty reply as failed.
std::string Abandon(Connection& connection, const std::string& detail) {
    connection.Close();
    connection.Context().log.WriteErrorLine(connection.FailureLine() + detail);
    return {};
}

// The first read of a reply: what is there at once, else what comes within the wait. nullopt
// when nothing came (after the probe of a silent server, which may give it up).
std::optional<std::size_t> FirstRead(Connection& connection, char* buffer, std::size_t chunk) {
    const TransportLimits& limits = connection.Limits();
    // Right after a command the socket is empty: the reply is waited for in the read itself.
    if (connection.AwaitingReply()) {
        if (const auto got = connection.ReceiveWaiting(buffer, chunk, limits.readableWaitMs)) {
            if (*got == 0) Abandon(connection, "");
            return got;
        }
    } else {
        // A reply that is already there is taken at once; only an empty socket is waited on.
        if (const auto got = connection.TryReceive(buffer, chunk)) {
            if (*got == 0) Abandon(connection, "");
            return got;
        }
        if (connection.WaitReadable(limits.readableWaitMs)) return std::nullopt;
    }
    bool timedOut = false;
    // Whatever the probe returns is discarded; only an empty probe gives the server up.
    if (connection.Receive(buffer, kProbeBytes, limits.readLimitMs, timedOut) == 0) {
        Abandon(connection, "");
    }
    return 0;
}

// Reads chunks of a reply until done says it is complete; each chunk goes to take. Returns
// false when the reply was abandoned (connection closed, failure logged) or never came.
template <typename Take>
bool ReadChunks(Connection& connection, std::size_t chunk, Take take) {
    if (!connection.Active()) throw SocketError("The connection is not open");
    const TransportLimits limits = connection.Limits();
    // Left uninitialised: only the bytes a read filled are ever looked at.
    std::array<char, kPop3MultiChunk + 1> buffer;
    bool timedOut = false;
    const std::optional<std::size_t> firstRead = FirstRead(connection, buffer.data(), chunk);
    if (firstRead && *firstRead == 0) return false;
    // Bytes of the first read still to be taken (0: read anew).
    std::size_t first = firstRead.value_or(0);
    std::size_t total = 0;
    // Data that keeps arriving never lets the reader wait, so the window's events are handled
    // here too while a large reply comes in.
    const auto pumpEvery = std::chrono::milliseconds(std::max(1, limits.sliceMs));
    auto lastPump = SteadyClock::now();
    for (;;) {
        const std::size_t got =
            first > 0 ? first
                      : connection.Receive(buffer.data(), chunk, limits.readLimitMs, timedOut);
        first = 0;
        // A peer that closes or falls silent before the end leaves a partial reply that must
        // not be judged as a good one (a cut-off RETR would pass as a whole message).
        if (got == 0) {
            Abandon(connection, "");
            return false;
        }
        if (take(buffer.data(), got)) return true;
        total += got;
        if (total > limits.maxReplyBytes) {
            Abandon(connection,
                    " (reply larger than " + std::to_string(limits.maxReplyBytes) + " bytes)");
            return false;
        }
        if (SteadyClock::now() - lastPump >= pumpEvery) {
            connection.Context().ui.PumpEvents();
            lastPump = SteadyClock::now();
            if (!connection.Active()) throw SocketError("The connection was closed while reading");
        }
    }
}

std::string ReadReply(Connection& connection, ReplyKind kind, bool pipelined = false) {
    const std::size_t chunk = kind == ReplyKind::Pop3Line    ? kPop3LineChunk
                              : kind == ReplyKind::Pop3Multi ? kPop3MultiChunk
                                                             : kSmtpChunk;
    std::string reply;
    ReplyEnd end(kind);
    PipelinedEnd pipelinedEnd(kind == ReplyKind::Pop3Multi);
    const bool complete = ReadChunks(connection, chunk, [&](const char* data, std::size_t size) {
        AppendWithoutNul(reply, data, size);
        if (!pipelined) return end.Complete(reply);
        const std::size_t length = pipelinedEnd.Length(reply);
        if (length == 0) return false;
        if (length < reply.size()) connection.PutBack(reply.substr(length));
        reply.resize(length);
        return true;
    });
    return complete ? reply : std::string();
}

// Splits one CR LF line the way a stored list is split: a lone CR or LF inside it also ends a
// line.
void AddLine(MessageText& lines, std::string_view line) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            lines.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    lines.push_back(line.substr(start));
}

} // namespace

Connection::Connection(EngineContext& context, std::string failureLine, int defaultPort)
    : m_context(context), m_failureLine(std::move(failureLine)), m_port(defaultPort) {}

Connection::~Connection() {
    // The close handler may reach a window that is already gone, so it is not called here.
    m_tls.reset();
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
    }
}

void Connection::SetEndpoint(const std::string& hostText) {
    if (IsDottedIPv4(hostText)) {
        m_address = hostText;
        m_hostName.clear();
    } else {
        m_address.clear();
        m_hostName = hostText;
    }
}

void Connection::SetPort(int port) {
    m_port = port;
}

void Connection::Connect() {
    Close();
    const std::string target =
        (m_address.empty() ? m_hostName : m_address) + ":" + std::to_string(m_port);
    if (m_port < 0 || m_port > 65535) {
        throw SocketError("Cannot connect to " + target + ": port out of range");
    }

    // A dotted address is used as it stands, with no name lookup.
    struct Candidate {
        sockaddr_storage address;
        socklen_t length;
        int family;
    };
    std::vector<Candidate> candidates;
    if (!m_address.empty()) {
        const auto numeric = NumericAddress(m_address, m_port);
        if (!numeric) throw SocketError("Cannot connect to " + target + ": bad address");
        Candidate candidate{};
        std::memcpy(&candidate.address, &*numeric, sizeof *numeric);
        candidate.length = sizeof *numeric;
        candidate.family = AF_INET;
        candidates.push_back(candidate);
    } else {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(m_port);
        const int status = ::getaddrinfo(m_hostName.c_str(), service.c_str(), &hints, &found);
        if (status != 0) {
            throw SocketError("Cannot resolve " + m_hostName + ": " + ::gai_strerror(status));
        }
        for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
            Candidate candidate{};
            std::memcpy(&candidate.address, entry->ai_addr, entry->ai_addrlen);
            candidate.length = entry->ai_addrlen;
            candidate.family = entry->ai_family;
            candidates.push_back(candidate);
        }
        ::freeaddrinfo(found);
    }

    std::string lastError = "no address";
    for (const auto& candidate : candidates) {
        UniqueFd fd(::socket(candidate.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.Get() < 0) {
            lastError = ErrnoText(errno);
            continue;
        }
        // Every command goes out as one send and waits for its reply, so there is nothing for
        // Nagle's algorithm to gather; it would only delay the last segment of a large send.
        const int on = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const auto* address = reinterpret_cast<const sockaddr*>(&candidate.address);
        if (::connect(fd.Get(), address, candidate.length) != 0) {
            if (errno != EINPROGRESS && errno != EINTR) {
                lastError = ErrnoText(errno);
                continue;
            }
            // No limit of our own: the operating system gives up on an unanswered connect.
            WaitFor(m_context, m_calls, fd.Get(), POLLOUT, -1, m_limits.sliceMs);
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            if (error != 0) {
                lastError = ErrnoText(error);
                continue;
            }
        }
        // Connected: from here every call but a waiting read says MSG_DONTWAIT itself, so the
        // socket can block where a read is meant to wait.
        const int flags = ::fcntl(fd.Get(), F_GETFL);
        if (flags >= 0) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
        m_receiveTimeoutMs = 0;
        m_fd = fd.Release();
        return;
    }
    throw SocketError("Cannot connect to " + target + ": " + lastError);
}

void Connection::SendText(const std::string& text) {
    ++m_sendCalls;
    if (m_fd < 0) throw SocketError("The connection is not open");
    std::size_t done = 0;
    while (done < text.size()) {
        short waitFor = POLLOUT;
        const std::size_t sent = SendSome(text.data() + done, text.size() - done, waitFor);
        if (sent > 0) {
            done += sent;
            continue;
        }
        // The limit counts from the last progress, so a slow but moving peer is never cut off.
        if (WaitFor(m_context, m_calls, m_fd, waitFor, m_limits.sendLimitMs, m_limits.sliceMs) ==
            WaitOutcome::TimedOut) {
            Close();
            throw SocketError("Sending made no progress for " +
                              std::to_string(m_limits.sendLimitMs) + " ms");
        }
        if (m_fd < 0) throw SocketError("The connection was closed while sending");
    }
    m_awaitingReply = true;
}

std::size_t Connection::SendSome(const char* data, std::size_t size, short& waitFor) {
    if (m_tls) {
        const TlsResult result = m_tls->Write(data, size);
        if (result.status == TlsStatus::Done) return result.bytes;
        if (const auto wait = TlsWait(result.status)) {
            waitFor = *wait;
            return 0;
        }
        FailTls("Sending failed: ");
    }
    for (;;) {
        const ssize_t sent = m_calls.send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) return static_cast<std::size_t>(sent);
        const int error = sent < 0 ? errno : EAGAIN;
        if (error == EINTR) continue;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            Close();
            throw SocketError("Sending failed: " + ErrnoText(error));
        }
        waitFor = POLLOUT;
        return 0;
    }
}

std::optional<std::size_t> Connection::ReceiveSome(char* buffer, std::size_t size, short& waitFor) {
    if (m_tls) {
        const TlsResult result = m_tls->Read(buffer, size);
        if (result.status == TlsStatus::Done) return result.bytes;
        if (result.status == TlsStatus::Closed) return 0;
        if (const auto wait = TlsWait(result.status)) {
            waitFor = *wait;
            return std::nullopt;
        }
        FailTls("Reading failed: ");
    }
    for (;;) {
        const ssize_t got = m_calls.recv(m_fd, buffer, size, MSG_DONTWAIT);
        if (got >= 0) {
            m_awaitingReply = false;
            return static_cast<std::size_t>(got);
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            Close();
            throw SocketError("Reading failed: " + ErrnoText(error));
        }
        waitFor = POLLIN;
        return std::nullopt;
    }
}

bool Connection::WaitReadable(int limitMs) {
    if (m_fd < 0) throw SocketError("The connection is not open");
    if (!m_unread.empty()) return true;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(0, limitMs));
    for (;;) {
        // A readable socket may carry only TLS housekeeping (a session ticket), and read data
        // may wait inside TLS with the socket idle: readable means data to read.
        short waitFor = POLLIN;
        if (m_tls) {
            const auto wait = TlsWait(m_tls->Peek().status);
            // Data, or a close or failure that the read will report.
            if (!wait) return true;
            waitFor = *wait;
        }
        const auto outcome = WaitFor(m_context, m_calls, m_fd, waitFor,
                                     static_cast<int>(RemainingMs(deadline)), m_limits.sliceMs);
        if (m_fd < 0) throw SocketError("The connection was closed while waiting");
        if (outcome == WaitOutcome::TimedOut) return false;
        if (!m_tls) return true;
    }
}

std::optional<std::size_t> Connection::ReceiveWaiting(char* buffer, std::size_t size, int limitMs) {
    if (m_fd < 0) throw SocketError("The connection is not open");
    if (m_tls || !m_unread.empty()) {
        if (!WaitReadable(limitMs)) return std::nullopt;
        bool timedOut = false;
        return Receive(buffer, size, std::max(0, limitMs), timedOut);
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(0, limitMs));
    for (;;) {
        // The socket's time-out is the slice, or what is left of the wait when that is less.
        const int slice = static_cast<int>(
            std::clamp<long long>(RemainingMs(deadline), 1, std::max(1, m_limits.sliceMs)));
        if (slice != m_receiveTimeoutMs) {
            const timeval timeout{slice / 1000, (slice % 1000) * 1000};
            if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
                const int error = errno;
                Close();
                throw SocketError("Reading failed: " + ErrnoText(error));
            }
            m_receiveTimeoutMs = slice;
        }
        const ssize_t got = m_calls.recv(m_fd, buffer, size, 0);
        if (got >= 0) {
            m_awaitingReply = false;
            return static_cast<std::size_t>(got);
        }
        const int error = errno;
        if (error != EINTR && error != EAGAIN && error != EWOULDBLOCK) {
            Close();
            throw SocketError("Reading failed: " + ErrnoText(error));
        }
        if (SteadyClock::now() >= deadline) return std::nullopt;
        m_context.ui.PumpEvents();
        if (m_fd < 0) throw SocketError("The connection was closed while waiting");
    }
}

std::optional<std::size_t> Connection::TryReceive(char* buffer, std::size_t size) {
    if (m_fd < 0) throw SocketError("The connection is not open");
    if (!m_unread.empty()) return TakeUnread(buffer, size);
    short waitFor = POLLIN;
    return ReceiveSome(buffer, size, waitFor);
}

void Connection::PutBack(std::string bytes) {
    m_unread.insert(0, bytes);
}

std::size_t Connection::TakeUnread(char* buffer, std::size_t size) {
    const std::size_t count = std::min(size, m_unread.size());
    std::memcpy(buffer, m_unread.data(), count);
    m_unread.erase(0, count);
    return count;
}

std::size_t Connection::Receive(char* buffer, std::size_t size, int limitMs, bool& timedOut) {
    timedOut = false;
    if (m_fd < 0) throw SocketError("The connection is not open");
    if (!m_unread.empty()) return TakeUnread(buffer, size);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(0, limitMs));
    for (;;) {
        short waitFor = POLLIN;
        if (const auto got = ReceiveSome(buffer, size, waitFor)) return *got;
        const auto outcome = WaitFor(m_context, m_calls, m_fd, waitFor,
                                     static_cast<int>(RemainingMs(deadline)), m_limits.sliceMs);
        if (m_fd < 0) throw SocketError("The connection was closed while waiting");
        if (outcome == WaitOutcome::TimedOut) {
            timedOut = true;
            return 0;
        }
    }
}

void Connection::StartTls(const std::string& pinnedFingerprint) {
    if (m_fd < 0) throw SocketError("The connection is not open");
    const auto fail = [this](const std::string& why) {
        Close();
        throw TlsError(why);
    };
    try {
        if (!m_tlsContext) m_tlsContext = std::make_unique<TlsContext>();
        const bool numeric = !m_address.empty();
        m_tls = std::make_unique<TlsChannel>(*m_tlsContext, m_fd, m_calls,
                                             numeric ? m_address : m_hostName, numeric);
    } catch (const TlsError& error) {
        fail(error.what());
    }
    // The whole handshake has the read limit: a server that stalls it is cut off as one
    // that stalls a reply.
    const auto deadline =
        SteadyClock::now() + std::chrono::milliseconds(std::max(0, m_limits.readLimitMs));
    for (;;) {
        const TlsStatus step = m_tls->Handshake().status;
        if (step == TlsStatus::Done) break;
        const auto waitFor = TlsWait(step);
        if (!waitFor) fail("handshake failed: " + m_tls->FailureText());
        const auto outcome = WaitFor(m_context, m_calls, m_fd, *waitFor,
                                     static_cast<int>(RemainingMs(deadline)), m_limits.sliceMs);
        if (m_fd < 0) throw TlsError("handshake failed: the connection was closed meanwhile");
        if (outcome == WaitOutcome::TimedOut) {
            fail("handshake failed: no answer from the server within " +
                 std::to_string(m_limits.readLimitMs) + " ms");
        }
    }
    const std::string problem = m_tls->CheckPeer(pinnedFingerprint);
    if (!problem.empty()) fail(problem);
}

void Connection::FailTls(const char* what) {
    const std::string why = what + m_tls->FailureText();
    Close();
    throw SocketError(why);
}

bool Connection::PeerIsLoopback() const {
    if (m_fd < 0) return false;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
    if (peer.ss_family == AF_INET) {
        const auto& address = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
        return (ntohl(address.s_addr) >> 24) == 127;
    }
    if (peer.ss_family == AF_INET6) {
        const auto& address = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&address)) return true;
        return IN6_IS_ADDR_V4MAPPED(&address) && address.s6_addr[12] == 127;
    }
    return false;
}

void Connection::Close() {
    if (m_fd < 0) return;
    if (m_tls) {
        m_tls->Shutdown();
        m_tls.reset();
    }
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_fd = -1;
    m_unread.clear();
    m_awaitingReply = false;
    if (m_closeHandler) m_closeHandler();
}

std::string ReadPop3Response(Connection& pop3, bool multiLine) {
    return ReadReply(pop3, multiLine ? ReplyKind::Pop3Multi : ReplyKind::Pop3Line);
}

std::string ReadPipelinedPop3Response(Connection& pop3, bool multiLine) {
    return ReadReply(pop3, multiLine ? ReplyKind::Pop3Multi : ReplyKind::Pop3Line, true);
}

std::string ReadPop3Lines(Connection& pop3, MessageText& lines, std::size_t expectedBytes) {
    lines.clear();
    // The size LIST gave sizes the text once; a server that lies about it only costs regrowth.
    lines.Reserve(std::min(expectedBytes, pop3.Limits().maxReplyBytes));
    std::string status;
    bool haveStatus = false;
    // The bytes of the line not yet ended; never more than one line and one chunk.
    std::string pending;
    const bool complete =
        ReadChunks(pop3, kPop3MultiChunk, [&](const char* data, std::size_t size) {
            const std::size_t scanFrom = pending.empty() ? 0 : pending.size() - 1;
            AppendWithoutNul(pending, data, size);
            std::size_t start = 0;
            for (auto crlf = pending.find("\r\n", scanFrom); crlf != std::string::npos;
                 crlf = pending.find("\r\n", start)) {
                const std::string_view line(pending.data() + start, crlf - start);
                start = crlf + 2;
                if (!haveStatus) {
                    haveStatus = true;
                    status.assign(line);
                    status += "\r\n";
                    // An error reply is one line (RFC 1939).
                    if (status.compare(0, 3, "+OK") != 0) return true;
                    continue;
                }
                if (line == ".") {
                    // Whatever follows the terminator belongs to no command of ours.
                    return true;
                }
                AddLine(lines, line);
            }
            pending.erase(0, start);
            return false;
        });
    if (!complete) {
        lines.clear();
        return {};
    }
    return status;
}

std::string ReadSmtpReply(Connection& smtp) {
    return ReadReply(smtp, ReplyKind::Smtp);
}

} // namespace zelm
