#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <vector>

#include "core/engine_context.h"
#include "core/message_text.h"
#include "core/zelm_error.h"

namespace zelm {

/// A connect, send or read that failed at the operating-system level.
class SocketError : public ZelmError {
public:
    using ZelmError::ZelmError;
};

/// The switch to TLS failed: the handshake, or the server's certificate was not accepted. The
/// text says why, for the error log.
class TlsError : public SocketError {
public:
    using SocketError::SocketError;
};

class TlsContext;
class TlsChannel;

/// Waiting limits of the transport. Only tests shorten them.
struct TransportLimits {
    int readableWaitMs = 50000; ///< wait for the first byte of a reply
    int readLimitMs = 60000;    ///< wait for each further read
    int sendLimitMs = 60000;    ///< a send that makes no progress for this long fails
    int sliceMs = 50;           ///< long waits are cut into slices with the UI pump between
    /// A reply that grows beyond this without ending is abandoned (256 MiB).
    std::size_t maxReplyBytes = std::size_t{256} << 20;
};

/// The socket calls a connection makes after connecting; tests replace them to inject
/// interruptions and failures.
struct SocketCalls {
    /// Waits for readiness (every wait slice).
    std::function<int(pollfd*, nfds_t, int)> poll = ::poll;
    /// Reads received bytes without blocking.
    std::function<ssize_t(int, void*, std::size_t, int)> recv = ::recv;
    /// Sends bytes without blocking.
    std::function<ssize_t(int, const void*, std::size_t, int)> send = ::send;
};

/// A blocking TCP client connection (`Pop3` or `SMTP`) on the UI thread.
class Connection {
public:
    /// failureLine is written to the error log when a reply never comes
    /// ("Pop3: Unable to read data from Socket" or the SMTP one).
    Connection(EngineContext& context, std::string failureLine, int defaultPort);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Endpoint rule: a dotted IPv4 text is the numeric address, anything else a host name.
    void SetEndpoint(const std::string& hostText);
    /// The port the next Connect uses.
    void SetPort(int port);
    /// The port the next Connect uses.
    int Port() const { return m_port; }
    /// The numeric address set by SetEndpoint ("" when a host name is used).
    const std::string& Address() const { return m_address; }
    /// The host name set by SetEndpoint ("" when a numeric address is used).
    const std::string& HostName() const { return m_hostName; }

    /// Blocking connect (an open connection is closed first); throws SocketError on any
    /// failure. The UI is pumped while the operating system tries.
    void Connect();
    /// The connection is open.
    bool Active() const { return m_fd >= 0; }
    /// Switches the open connection to TLS: the handshake (cut off after readLimitMs), then
    /// the server's certificate checked against the endpoint's host name and the trust store,
    /// or accepted when its SHA-256 fingerprint is pinnedFingerprint. From then on every send
    /// and read is encrypted. Throws TlsError saying why (the connection then closed).
    void StartTls(const std::string& pinnedFingerprint);
    /// The connection is open and encrypted.
    bool Encrypted() const { return m_tls != nullptr; }
    /// The connected server is on this machine's loopback (127.0.0.0/8 or ::1).
    bool PeerIsLoopback() const;
    /// How many times SendText was called, whatever came of it.
    std::size_t SendCalls() const { return m_sendCalls; }
    /// Sends the whole text; throws SocketError (also after sendLimitMs without progress), the
    /// connection then closed.
    void SendText(const std::string& text);
    /// Ends TLS, shuts and closes the socket, then tells the close handler; does nothing when
    /// inactive.
    void Close();
    /// Called after every close of an active connection, whatever closed it (POP3 uses it to
    /// show "Disconnected").
    void SetCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }

    /// Waits up to limitMs for data, pumping the UI between slices; false on time-out.
    bool WaitReadable(int limitMs);
    /// For a plain connection: reads up to size bytes, waiting up to limitMs for them inside
    /// the read itself (one call where waiting and then reading takes two), pumping the UI
    /// between slices. The count (0 when the peer closed), nullopt on time-out. Throws
    /// SocketError as Receive does.
    std::optional<std::size_t> ReceiveWaiting(char* buffer, std::size_t size, int limitMs);
    /// Reads up to size bytes, waiting up to limitMs for them. Returns the count, 0 when the
    /// peer closed or nothing came in time (timedOut tells which); throws SocketError, the
    /// connection then closed, when the read fails.
    std::size_t Receive(char* buffer, std::size_t size, int limitMs, bool& timedOut);
    /// Reads up to size bytes that are there now, without waiting: the count (0 when the peer
    /// closed), nullopt when nothing has arrived yet. Throws SocketError as Receive does.
    std::optional<std::size_t> TryReceive(char* buffer, std::size_t size);
    /// Bytes read past the end of a reply (pipelined replies): the next read takes them first.
    void PutBack(std::string bytes);
    /// A plain connection whose last call was a send, with nothing received since: the reply
    /// is hardly ever there yet, so a reader waits before its first read.
    bool AwaitingReply() const { return m_awaitingReply && !m_tls && m_unread.empty(); }

    /// The waiting limits (tests shorten them).
    TransportLimits& Limits() { return m_limits; }
    /// The socket calls (tests replace them).
    SocketCalls& Calls() { return m_calls; }
    /// The context whose logs and window the connection reports to.
    EngineContext& Context() { return m_context; }
    /// The error-log line written when a reply never comes.
    const std::string& FailureLine() const { return m_failureLine; }
    /// The socket descriptor, for the reply readers.
    int Descriptor() const { return m_fd; }

private:
    // One non-blocking send or read, plain or through TLS: the bytes moved, or (0 / nullopt)
    // the readiness to wait for. A read gives 0 when the peer closed. Both throw SocketError,
    // the connection then closed, when the socket or TLS fails.
    std::size_t SendSome(const char* data, std::size_t size, short& waitFor);
    std::optional<std::size_t> ReceiveSome(char* buffer, std::size_t size, short& waitFor);
    // Closes the connection after TLS failed and throws SocketError with what and the cause.
    [[noreturn]] void FailTls(const char* what);
    // Moves up to size bytes of m_unread into buffer.
    std::size_t TakeUnread(char* buffer, std::size_t size);

    EngineContext& m_context;
    std::string m_failureLine;
    std::string m_hostName;
    std::string m_address;
    int m_port;
    int m_fd = -1;
    std::size_t m_sendCalls = 0;
    bool m_awaitingReply = false;
    // The socket's receive time-out in ms (0: none), which bounds a read that waits.
    int m_receiveTimeoutMs = 0;
    TransportLimits m_limits;
    SocketCalls m_calls;
    std::function<void()> m_closeHandler;
    // Bytes already received that belong to the next reply; dropped by Close.
    std::string m_unread;
    // Made at the first StartTls and kept, so the trust store is read once per connection.
    std::unique_ptr<TlsContext> m_tlsContext;
    std::unique_ptr<TlsChannel> m_tls;
};

/// Reads one POP3 reply: a status line, or with multiLine up to CR LF "." CR LF (a multi-line
/// reply whose status line is not "+OK" is that line alone). A reply that never comes, stops
/// before its end or outgrows the limit closes the connection, writes the failure line and
/// reads as "". Throws SocketError when a read fails.
std::string ReadPop3Response(Connection& pop3, bool multiLine);
/// Reads exactly one POP3 reply while more may follow it (pipelined commands): the same rules,
/// but the bytes after this reply's end stay on the connection for the next read.
std::string ReadPipelinedPop3Response(Connection& pop3, bool multiLine);
/// Reads a multi-line POP3 reply straight into lines, so a large message is never held twice:
/// the status line (with its CR LF) is returned, the lines after it up to the terminating "."
/// go to lines as sent (a lone CR or LF also ends a line). The same failure rules: "" and no
/// lines when the reply never comes or stops before its end. expectedBytes (the size LIST
/// gave) sizes the text up front.
std::string ReadPop3Lines(Connection& pop3, MessageText& lines, std::size_t expectedBytes = 0);
/// Reads one SMTP reply, continuation lines ("250-") included, with the same failure rules.
std::string ReadSmtpReply(Connection& smtp);

} // namespace zelm
