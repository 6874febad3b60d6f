#include "protocols/tls.h"

#include <cerrno>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include "core/schema.h"
#include "core/string_helpers.h"

namespace zelm {

/// The socket under a TLS session, reached through the connection's replaceable calls.
struct SocketBio {
    int fd;
    SocketCalls& calls;
    bool eof = false;
    int error = 0;
};

namespace {

// The error queue's oldest reason in words, or fallback when it holds none.
std::string QueuedError(const std::string& fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    const char* reason = ERR_reason_error_string(code);
    if (reason) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

SocketBio& Io(BIO* bio) {
    return *static_cast<SocketBio*>(BIO_get_data(bio));
}

int BioRead(BIO* bio, char* buffer, int size) {
    BIO_clear_retry_flags(bio);
    SocketBio& io = Io(bio);
    for (;;) {
        const ssize_t got =
            io.calls.recv(io.fd, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
        if (got >= 0) {
            if (got == 0) io.eof = true;
            return static_cast<int>(got);
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
        } else {
            io.error = errno;
        }
        return -1;
    }
}

int BioWrite(BIO* bio, const char* buffer, int size) {
    BIO_clear_retry_flags(bio);
    SocketBio& io = Io(bio);
    for (;;) {
        // MSG_NOSIGNAL: a peer that went away must give an error, never SIGPIPE.
        const ssize_t sent = io.calls.send(io.fd, buffer, static_cast<std::size_t>(size),
                                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_write(bio);
        } else {
            io.error = errno;
        }
        return -1;
    }
}

long BioControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        // Tells the TLS layer that a read of 0 bytes was the peer closing.
        return Io(bio).eof ? 1 : 0;
    default:
        return 0;
    }
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zelm socket");
        if (made) {
            BIO_meth_set_read(made, BioRead);
            BIO_meth_set_write(made, BioWrite);
            BIO_meth_set_ctrl(made, BioControl);
            BIO_meth_set_create(made, BioCreate);
        }
        return made;
    }();
    return method;
}

std::string Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "unknown";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string Subject(X509* certificate) {
    BIO* out = BIO_new(BIO_s_mem());
    if (!out) return "unknown";
    X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<std::size_t>(length > 0 ? length : 0));
    BIO_free(out);
    // The subject is the server's text: it must not break the log line.
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    }
    return text.empty() ? "(empty)" : text;
}

} // namespace

std::optional<ConnectionSecurity> ParseConnectionSecurity(std::string_view text) {
    const std::string value = LowerAscii(std::string(TrimmedView(text)));
    if (value.empty() || value == schema::SecurityNone) return ConnectionSecurity::None;
    if (value == schema::SecurityStartTls) return ConnectionSecurity::StartTls;
    if (value == schema::SecurityTls) return ConnectionSecurity::Tls;
    return std::nullopt;
}

std::string NormalizedFingerprint(std::string_view text) {
    // "sha256 Fingerprint=AB:..." as openssl prints it: the words before "=" hold hex letters.
    const std::size_t equals = text.rfind('=');
    if (equals != std::string_view::npos) text.remove_prefix(equals + 1);
    std::string hex;
    for (const char c : text) {
        if (c >= '0' && c <= '9') hex += c;
        if (c >= 'a' && c <= 'f') hex += static_cast<char>(c - 'a' + 'A');
        if (c >= 'A' && c <= 'F') hex += c;
    }
    return hex;
}

TlsContext::TlsContext() : m_ctx(SSL_CTX_new(TLS_client_method())) {
    if (!m_ctx) throw TlsError("cannot set up TLS: " + QueuedError("out of memory"));
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    // The certificate is judged after the handshake, where a pinned fingerprint can accept
    // it; nothing is sent before that judgement.
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_NONE, nullptr);
    // A missing trust store leaves nothing trusted, which every check then reports.
    SSL_CTX_set_default_verify_paths(m_ctx);
    // A peer that closes without the closing alert reads as closed; a reply cut short is
    // caught by the reply readers, which never take an unfinished reply.
    SSL_CTX_set_options(m_ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(m_ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // One socket read takes in whatever has arrived, not a record header and then its body;
    // every wait asks TLS for buffered data before it polls the socket.
    SSL_CTX_set_read_ahead(m_ctx, 1);
    ERR_clear_error();
}

TlsContext::~TlsContext() {
    SSL_CTX_free(m_ctx);
}

TlsChannel::TlsChannel(TlsContext& context, int fd, SocketCalls& calls, const std::string& host,
                       bool numeric)
    : m_io(std::make_unique<SocketBio>(SocketBio{fd, calls})) {
    BIO_METHOD* method = SocketBioMethod();
    m_ssl = SSL_new(context.m_ctx);
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!m_ssl || !bio) {
        BIO_free(bio);
        SSL_free(m_ssl);
        throw TlsError("cannot set up TLS: " + QueuedError("out of memory"));
    }
    BIO_set_data(bio, m_io.get());
    SSL_set_bio(m_ssl, bio, bio);
    bool named = true;
    if (numeric) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str()) == 1;
    } else {
        // SNI carries names only, never an address.
        named = SSL_ctrl(m_ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                         const_cast<char*>(host.c_str())) == 1 &&
                SSL_set1_host(m_ssl, host.c_str()) == 1;
        SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    }
    if (!named) {
        SSL_free(m_ssl);
        throw TlsError("cannot check a certificate for the host \"" + host + "\"");
    }
    SSL_set_connect_state(m_ssl);
    ERR_clear_error();
}

TlsChannel::~TlsChannel() {
    SSL_free(m_ssl);
}

TlsResult TlsChannel::Outcome(int returned) {
    if (returned > 0) return {TlsStatus::Done, static_cast<std::size_t>(returned)};
    switch (SSL_get_error(m_ssl, returned)) {
    case SSL_ERROR_WANT_READ:
        return {TlsStatus::WantRead};
    case SSL_ERROR_WANT_WRITE:
        return {TlsStatus::WantWrite};
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        m_failure = "the server closed the connection";
        return {TlsStatus::Closed};
    case SSL_ERROR_SYSCALL:
        m_broken = true;
        m_failure = m_io->error != 0 ? std::strerror(m_io->error)
                                     : QueuedError("the server closed the connection");
        return {m_io->error != 0 ? TlsStatus::Failed : TlsStatus::Closed};
    default:
        m_broken = true;
        m_failure = QueuedError("TLS error");
        return {TlsStatus::Failed};
    }
}

TlsResult TlsChannel::Handshake() {
    ERR_clear_error();
    const int returned = SSL_do_handshake(m_ssl);
    if (returned == 1) return {TlsStatus::Done};
    TlsResult result = Outcome(returned);
    // A peer that closes before the handshake is done has failed it.
    if (result.status == TlsStatus::Closed) m_broken = true;
    return result;
}

TlsResult TlsChannel::Read(char* buffer, std::size_t size) {
    ERR_clear_error();
    std::size_t got = 0;
    const int returned = SSL_read_ex(m_ssl, buffer, size, &got);
    if (returned == 1) return {TlsStatus::Done, got};
    return Outcome(returned);
}

TlsResult TlsChannel::Write(const char* buffer, std::size_t size) {
    ERR_clear_error();
    std::size_t sent = 0;
    const int returned = SSL_write_ex(m_ssl, buffer, size, &sent);
    if (returned == 1) return {TlsStatus::Done, sent};
    return Outcome(returned);
}

TlsResult TlsChannel::Peek() {
    if (SSL_pending(m_ssl) > 0) return {TlsStatus::Done, 1};
    ERR_clear_error();
    char byte = 0;
    std::size_t got = 0;
    const int returned = SSL_peek_ex(m_ssl, &byte, 1, &got);
    if (returned == 1) return {TlsStatus::Done, got};
    return Outcome(returned);
}

std::string TlsChannel::CheckPeer(const std::string& pinnedFingerprint) const {
    X509* certificate = SSL_get0_peer_certificate(m_ssl);
    if (!certificate) return "the server sent no certificate";
    const long verified = SSL_get_verify_result(m_ssl);
    if (verified == X509_V_OK) return {};
    const std::string fingerprint = Fingerprint(certificate);
    const std::string pinned = NormalizedFingerprint(pinnedFingerprint);
    if (!pinned.empty() && pinned == NormalizedFingerprint(fingerprint)) return {};
    return std::string("certificate not accepted: ") + X509_verify_cert_error_string(verified) +
           (pinned.empty() ? "" : " (and it is not the accepted one)") + "; subject " +
           Subject(certificate) + "; SHA-256 fingerprint " + fingerprint;
}

void TlsChannel::Shutdown() {
    if (m_broken) return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
}

} // namespace zelm
