#pragma once

#include <string>

#include "core/engine_context.h"
#include "core/zelm_error.h"

namespace zelm {

/// A connect, send or read that failed at the operating-system level.
class SocketError : public ZelmError {
public:
    using ZelmError::ZelmError;
};

/// Waiting limits of the transport. Only tests shorten them.
struct TransportLimits {
    int readableWaitMs = 50000; ///< wait for the first byte of a reply
    int readLimitMs = 60000;    ///< wait for each further read
    int sendLimitMs = 60000;    ///< a send that makes no progress for this long fails
    int sliceMs = 50;           ///< long waits are cut into slices with the UI pump between
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
    void SetPort(int port);
    int Port() const { return m_port; }
    /// The numeric address set by SetEndpoint ("" when a host name is used).
    const std::string& Address() const { return m_address; }
    /// The host name set by SetEndpoint ("" when a numeric address is used).
    const std::string& HostName() const { return m_hostName; }

    /// Blocking connect; throws SocketError on any failure.
    void Connect();
    /// The connection is open.
    bool Active() const { return m_fd >= 0; }
    /// Sends the whole text; throws SocketError (also after sendLimitMs without progress).
    void SendText(const std::string& text);
    /// Shuts and closes the socket; does nothing when inactive.
    void Close();

    TransportLimits& Limits() { return m_limits; }
    EngineContext& Context() { return m_context; }
    const std::string& FailureLine() const { return m_failureLine; }
    /// The socket descriptor, for the reply readers.
    int Descriptor() const { return m_fd; }

private:
    EngineContext& m_context;
    std::string m_failureLine;
    std::string m_hostName;
    std::string m_address;
    int m_port;
    int m_fd = -1;
    TransportLimits m_limits;
};

/// Reads one POP3 reply: a status line, or with multiLine up to CR LF "." CR LF.
std::string ReadPop3Response(Connection& pop3, bool multiLine);
/// Reads one SMTP reply, continuation lines ("250-") included.
std::string ReadSmtpReply(Connection& smtp);

} // namespace zelm
