#include "tests/support/fake_server.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace zelm::test {

namespace {

using Clock = std::chrono::steady_clock;

// Every wait is cut into slices this long, so a stop request is seen quickly.
constexpr int kSliceMs = 20;

std::string Printable(const std::string& bytes) {
    std::string text;
    for (const unsigned char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

int ListenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("fake server: socket failed");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("fake server: cannot listen on 127.0.0.1");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

namespace script {

ScriptStep Send(std::string bytes) {
    return {ScriptStep::Kind::Send, std::move(bytes), {}, 0};
}
ScriptStep SendSegments(std::vector<std::string> segments, int gapMs) {
    return {ScriptStep::Kind::SendSegments, {}, std::move(segments), gapMs};
}
ScriptStep Expect(std::string bytes) {
    return {ScriptStep::Kind::Expect, std::move(bytes), {}, 0};
}
ScriptStep ReadUntil(std::string pattern) {
    return {ScriptStep::Kind::ReadUntil, std::move(pattern), {}, 0};
}
ScriptStep Wait(int ms) {
    return {ScriptStep::Kind::Wait, {}, {}, ms};
}
ScriptStep Silent(int ms) {
    return {ScriptStep::Kind::Silent, {}, {}, ms};
}
ScriptStep Close() {
    return {ScriptStep::Kind::Close, {}, {}, 0};
}
ScriptStep Reset() {
    return {ScriptStep::Kind::Reset, {}, {}, 0};
}
ScriptStep ExpectClose() {
    return {ScriptStep::Kind::ExpectClose, {}, {}, 0};
}
ScriptStep Accept() {
    return {ScriptStep::Kind::Accept, {}, {}, 0};
}
std::vector<ScriptStep> Then(std::vector<ScriptStep> first, const std::vector<ScriptStep>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}
ScriptStep StartTls(const TlsIdentity& identity) {
    return {ScriptStep::Kind::StartTls, {}, {}, 0, identity};
}

} // namespace script

FakeServer::FakeServer(std::vector<ScriptStep> script, int readLimitMs)
    : m_script(std::move(script)), m_readLimitMs(readLimitMs) {
    m_listenFd = ListenOnLoopback(m_port);
    m_thread = std::thread([this] { Run(); });
}

FakeServer::~FakeServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
    CloseConnection(false);
    if (m_listenFd >= 0) ::close(m_listenFd);
}

bool FakeServer::Finish(int limitMs) {
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return m_done; });
        if (!m_done && m_failure.empty()) m_failure = "the script did not end in time";
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
    return ScriptCompleted();
}

bool FakeServer::ScriptCompleted() const {
    std::lock_guard lock(m_mutex);
    return m_completed && m_failure.empty();
}

std::string FakeServer::Failure() const {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

std::string FakeServer::Received() const {
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const auto& part : m_received)
        all += part;
    return all;
}

std::vector<std::string> FakeServer::ReceivedPerConnection() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int FakeServer::Connections() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_received.size());
}

void FakeServer::Run() {
    // TLS writes to a client that has gone must fail, not kill the test with SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    bool ok = AcceptConnection();
    for (std::size_t i = 0; ok && i < m_script.size(); ++i) {
        ok = RunStep(m_script[i]);
        if (!ok) {
            std::lock_guard lock(m_mutex);
            if (m_failure.empty()) m_failure = "stopped";
            m_failure = "step " + std::to_string(i + 1) + ": " + m_failure;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_completed = ok;
        m_done = true;
    }
    m_changed.notify_all();
    if (ok) Drain();
    CloseConnection(false);
}

bool FakeServer::AcceptConnection() {
    CloseConnection(false);
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_readLimitMs);
    while (Clock::now() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) return false;
        }
        pollfd entry{m_listenFd, POLLIN, 0};
        if (::poll(&entry, 1, kSliceMs) <= 0) continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Each scripted send must leave at once, so split segments stay separate.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_fd = fd;
        m_pending.clear();
        std::lock_guard lock(m_mutex);
        m_received.emplace_back();
        return true;
    }
    Fail("no client connected in time");
    return false;
}

bool FakeServer::RunStep(const ScriptStep& step) {
    using Kind = ScriptStep::Kind;
    if (step.kind == Kind::Accept) return AcceptConnection();
    if (step.kind == Kind::Wait) {
        std::unique_lock lock(m_mutex);
        return !m_changed.wait_for(lock, std::chrono::milliseconds(step.ms),
                                   [this] { return m_stop; });
    }
    if (m_fd < 0) {
        Fail("no open connection");
        return false;
    }
    switch (step.kind) {
    case Kind::Send:
        return SendAll(step.bytes);
    case Kind::StartTls:
        return BeginTls(step.identity);
    case Kind::SendSegments:
        for (std::size_t i = 0; i < step.segments.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            if (!SendAll(step.segments[i])) return false;
        }
        return true;
    case Kind::Expect: {
        if (!FillUntil(step.bytes.size(), "", m_readLimitMs, false)) {
            Fail("expected \"" + Printable(step.bytes) + "\", got \"" + Printable(m_pending) +
                 "\"");
            return false;
        }
        if (m_pending.compare(0, step.bytes.size(), step.bytes) != 0) {
            Fail("expected \"" + Printable(step.bytes) + "\", got \"" +
                 Printable(m_pending.substr(0, step.bytes.size())) + "\"");
            return false;
        }
        m_pending.erase(0, step.bytes.size());
        return true;
    }
    case Kind::ReadUntil: {
        if (!FillUntil(0, step.bytes, m_readLimitMs, false)) {
            Fail("\"" + Printable(step.bytes) + "\" did not come; got \"" + Printable(m_pending) +
                 "\"");
            return false;
        }
        m_pending.erase(0, m_pending.find(step.bytes) + step.bytes.size());
        return true;
    }
    case Kind::Silent:
        FillUntil(SIZE_MAX, "", step.ms, true);
        return true;
    case Kind::Close:
        CloseConnection(false);
        return true;
    case Kind::Reset:
        CloseConnection(true);
        return true;
    case Kind::ExpectClose: {
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_readLimitMs);
        bool closed = false;
        while (!closed && Clock::now() < deadline) {
            if (!ReadSome(kSliceMs, closed)) return false;
        }
        if (!closed) {
            Fail("the client did not close the connection");
            return false;
        }
        if (!m_pending.empty()) {
            Fail("the client sent \"" + Printable(m_pending) + "\" before closing");
            return false;
        }
        CloseConnection(false);
        return true;
    }
    default:
        return false;
    }
}

// Reads until m_pending holds minimum bytes or contains pattern (when not empty), for up to
// limitMs. With stopOnClose a closing client ends the wait successfully.
bool FakeServer::FillUntil(std::size_t minimum, const std::string& pattern, int limitMs,
                           bool stopOnClose) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const bool enough = pattern.empty() ? m_pending.size() >= minimum
                                            : m_pending.find(pattern) != std::string::npos;
        if (enough) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        bool closed = false;
        if (!ReadSome(static_cast<int>(std::min<long long>(left, kSliceMs)), closed)) {
            return false;
        }
        if (closed) return stopOnClose;
    }
}

// One read of whatever is there, waiting up to waitMs; false when the server must stop.
bool FakeServer::ReadSome(int waitMs, bool& closed) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stop) {
            if (m_failure.empty()) m_failure = "stopped";
            return false;
        }
    }
    closed = false;
    if (!Readable(waitMs)) return true;
    char buffer[65536];
    const long got = RecvSome(buffer, sizeof buffer, true);
    if (got <= 0) {
        closed = true;
        return true;
    }
    m_pending.append(buffer, static_cast<std::size_t>(got));
    std::lock_guard lock(m_mutex);
    m_received.back().append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool FakeServer::SendAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (m_ssl) {
            std::size_t written = 0;
            if (SSL_write_ex(m_ssl, bytes.data() + done, bytes.size() - done, &written) != 1) {
                Fail("TLS send failed");
                return false;
            }
            done += written;
            continue;
        }
        const ssize_t sent = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            Fail(std::string("send failed: ") + std::strerror(errno));
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool FakeServer::BeginTls(const TlsIdentity& identity) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    BIO* certificateIn = BIO_new_mem_buf(identity.certificatePem.data(),
                                         static_cast<int>(identity.certificatePem.size()));
    BIO* keyIn = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    X509* certificate = PEM_read_bio_X509(certificateIn, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyIn, nullptr, nullptr, nullptr);
    const bool loaded = context && certificate && key &&
                        SSL_CTX_use_certificate(context, certificate) == 1 &&
                        SSL_CTX_use_PrivateKey(context, key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(certificateIn);
    BIO_free(keyIn);
    if (!loaded) {
        SSL_CTX_free(context);
        Fail("cannot load the TLS identity");
        return false;
    }
    m_ssl = SSL_new(context);
    // The session holds its own reference to the context.
    SSL_CTX_free(context);
    // Bytes the client sent before the handshake are part of it; none may sit unread here.
    m_pending.clear();
    SSL_set_fd(m_ssl, m_fd);
    // The socket blocks; its time limit keeps a client that stops mid-handshake from hanging
    // the server.
    timeval limit{m_readLimitMs / 1000, (m_readLimitMs % 1000) * 1000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (SSL_accept(m_ssl) != 1) {
        char text[256] = "handshake failed";
        if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
        ERR_clear_error();
        Fail(std::string("TLS: ") + text);
        return false;
    }
    return true;
}

bool FakeServer::Readable(int waitMs) {
    if (m_ssl && SSL_pending(m_ssl) > 0) return true;
    pollfd entry{m_fd, POLLIN, 0};
    return ::poll(&entry, 1, waitMs) > 0;
}

long FakeServer::RecvSome(char* buffer, std::size_t size, bool wait) {
    if (m_ssl) {
        if (!wait && !Readable(0)) return -1;
        std::size_t got = 0;
        if (SSL_read_ex(m_ssl, buffer, size, &got) == 1) return static_cast<long>(got);
        // The client's closing alert or a plain close: the end of the connection.
        ERR_clear_error();
        return 0;
    }
    return ::recv(m_fd, buffer, size, wait ? 0 : MSG_DONTWAIT);
}

void FakeServer::CloseConnection(bool reset) {
    if (m_fd < 0) return;
    if (m_ssl) {
        if (!reset) SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
        ERR_clear_error();
    }
    if (reset) {
        // A zero linger time makes close send a reset instead of the orderly end.
        linger option{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    ::close(m_fd);
    m_fd = -1;
}

void FakeServer::Fail(const std::string& why) {
    std::lock_guard lock(m_mutex);
    if (m_failure.empty() || m_failure == "stopped") m_failure = why;
}

// After the last step the connection stays open and is recorded until the client closes it or
// the test finishes, so bytes the script did not expect still show in Received().
void FakeServer::Drain() {
    if (m_fd < 0) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_readLimitMs);
    bool closed = false;
    while (!closed && Clock::now() < deadline) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) break;
        }
        if (!Readable(kSliceMs)) continue;
        char buffer[65536];
        const long got = RecvSome(buffer, sizeof buffer, true);
        if (got <= 0) {
            closed = true;
            break;
        }
        std::lock_guard lock(m_mutex);
        m_received.back().append(buffer, static_cast<std::size_t>(got));
    }
    // Whatever arrived just before the stop is recorded too.
    char buffer[65536];
    for (;;) {
        const long got = RecvSome(buffer, sizeof buffer, false);
        if (got <= 0) break;
        std::lock_guard lock(m_mutex);
        m_received.back().append(buffer, static_cast<std::size_t>(got));
    }
}

int ClosedLoopbackPort() {
    int port = 0;
    const int fd = ListenOnLoopback(port);
    ::close(fd);
    return port;
}

} // namespace zelm::test
