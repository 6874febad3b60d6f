#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "protocols/transport.h"

// OpenSSL's session types, declared here so that only tls.cpp sees its headers.
struct ssl_ctx_st;
struct ssl_st;

// TLS for the transport: one client session over a connected non-blocking socket. Every call
// returns at once and says what it waits for, so the connection keeps its own waits, time
// limits and UI pumping around TLS as around the plain socket.
namespace zelm {

/// How a mailbox's conversation is protected.
enum class ConnectionSecurity {
    None,     ///< plain TCP
    StartTls, ///< plain TCP switched to TLS by the protocol's command (STLS, STARTTLS)
    Tls       ///< TLS from the first byte
};

/// "none", "starttls" or "tls", without regard to case or surrounding blanks; "" is none.
/// nullopt for any other text, which must never be taken as a plain connection.
std::optional<ConnectionSecurity> ParseConnectionSecurity(std::string_view text);

/// A SHA-256 fingerprint text reduced to its hex digits in upper case, so one copied as the
/// logs show it ("AB:01:..."), as plain hex in either case, or as openssl prints it
/// ("sha256 Fingerprint=AB:01:...") compares equal.
std::string NormalizedFingerprint(std::string_view text);

struct SocketBio;

/// The outcome of one TLS call on the non-blocking socket.
enum class TlsStatus {
    Done,      ///< the call did its work (bytes tells how many for a read or write)
    WantRead,  ///< call again once the socket is readable
    WantWrite, ///< call again once the socket is writable
    Closed,    ///< the peer ended the connection
    Failed     ///< a TLS or socket error; FailureText() says which
};

/// What a TLS call came to.
struct TlsResult {
    TlsStatus status = TlsStatus::Done;
    std::size_t bytes = 0;
};

/// The client settings every TLS session of a connection shares: TLS 1.2 or later and the
/// system's trust store (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply).
class TlsContext {
public:
    /// Throws TlsError when the TLS library cannot set up a client.
    TlsContext();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

private:
    friend class TlsChannel;
    ::ssl_ctx_st* m_ctx;
};

/// One TLS client session on a connected socket, reading and writing through the
/// connection's socket calls.
class TlsChannel {
public:
    /// host is the configured host text: a name is sent as SNI and checked against the
    /// certificate's names, a dotted IPv4 address (numeric) against its addresses. Throws
    /// TlsError when the session cannot be set up.
    TlsChannel(TlsContext& context, int fd, SocketCalls& calls, const std::string& host,
               bool numeric);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    /// One step of the handshake.
    TlsResult Handshake();
    /// Reads up to size bytes of application data.
    TlsResult Read(char* buffer, std::size_t size);
    /// Writes up to size bytes; bytes tells how many were taken.
    TlsResult Write(const char* buffer, std::size_t size);
    /// Done when application data can be read without waiting for the socket.
    TlsResult Peek();
    /// After the handshake: "" when the server's certificate is accepted (its chain and name
    /// verify, or its fingerprint is the pinned one), else why not, with the certificate's
    /// subject and fingerprint for the user to judge and copy.
    std::string CheckPeer(const std::string& pinnedFingerprint) const;
    /// Why the last call Failed or Closed.
    const std::string& FailureText() const { return m_failure; }
    /// Sends the closing alert if that needs no waiting; nothing after a failure.
    void Shutdown();

private:
    TlsResult Outcome(int returned);

    ::ssl_st* m_ssl = nullptr;
    std::unique_ptr<SocketBio> m_io;
    bool m_broken = false;
    std::string m_failure;
};

} // namespace zelm
