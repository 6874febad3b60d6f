// The yardstick for the session benchmark: the least a POP3 client can do to walk a mailbox
// the way a session does, with nothing else around it (no logs, no cache, no settings).
//   minimal_pop3_client PORT USER PASSWORD new [tls]     UIDL n, LIST n, TOP n 0 for every message
//   minimal_pop3_client PORT USER PASSWORD cached [tls]  UIDL n for every message
//   minimal_pop3_client PORT USER PASSWORD pipelined     one UIDL and one LIST, then TOP n 0 for
//                                                        every message, 32 commands in flight
// Connects to 127.0.0.1 (with tls: TLS from the first byte, blocking OpenSSL, the certificate
// not checked), logs in, STAT, walks the messages, QUIT. Exit status 0 on success.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_fd = -1;
SSL* g_ssl = nullptr;
std::string g_buffer;
std::size_t g_start = 0;

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "minimal_pop3_client: %s\n", why.c_str());
    std::exit(1);
}

void Send(const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n =
            g_ssl ? SSL_write(g_ssl, text.data() + sent, static_cast<int>(text.size() - sent))
                  : ::send(g_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) Fail("send failed");
        sent += static_cast<std::size_t>(n);
    }
}

// Reads until terminator ends the unread data; returns the reply and consumes it. The search
// resumes where the previous one stopped, so the buffer is never rescanned.
std::string Read(const char* terminator) {
    const std::size_t length = std::strlen(terminator);
    std::size_t searchFrom = g_start;
    for (;;) {
        const std::size_t found = g_buffer.find(terminator, searchFrom);
        if (found != std::string::npos) {
            std::string reply = g_buffer.substr(g_start, found + length - g_start);
            g_start = found + length;
            if (g_start == g_buffer.size()) {
                g_buffer.clear();
                g_start = 0;
            }
            return reply;
        }
        searchFrom = g_buffer.size() - g_start >= length ? g_buffer.size() - length + 1 : g_start;
        char chunk[65536];
        const ssize_t n =
            g_ssl ? SSL_read(g_ssl, chunk, sizeof chunk) : ::recv(g_fd, chunk, sizeof chunk, 0);
        if (n <= 0) Fail("connection closed");
        g_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string Command(const std::string& line, bool multiLine) {
    Send(line);
    std::string reply = Read("\r\n");
    if (reply.compare(0, 3, "+OK") != 0) Fail("refused: " + line);
    if (multiLine) reply += Read("\r\n.\r\n");
    return reply;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 && !(argc == 6 && std::string(argv[5]) == "tls")) {
        std::fprintf(stderr,
                     "usage: minimal_pop3_client PORT USER PASSWORD new|cached|pipelined [tls]\n");
        return 2;
    }
    const bool newMessages = std::string(argv[4]) == "new";
    const bool pipelined = std::string(argv[4]) == "pipelined";

    g_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(g_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Fail("connect failed");
    }
    const int one = 1;
    ::setsockopt(g_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (argc == 6) {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        g_ssl = SSL_new(context);
        SSL_set_fd(g_ssl, g_fd);
        if (SSL_connect(g_ssl) != 1) Fail("TLS handshake failed");
    }

    if (Read("\r\n").compare(0, 3, "+OK") != 0) Fail("greeting refused");
    Command(std::string("USER ") + argv[2] + "\r\n", false);
    Command(std::string("PASS ") + argv[3] + "\r\n", false);
    const std::string stat = Command("STAT \r\n", false);
    const int total = std::atoi(stat.c_str() + 4);

    if (pipelined) {
        Command("UIDL\r\n", true);
        Command("LIST\r\n", true);
        constexpr int kWindow = 32;
        int sent = 0;
        for (int n = 1; n <= total; ++n) {
            std::string burst;
            while (sent < total && sent - (n - 1) < kWindow) {
                ++sent;
                burst += "TOP " + std::to_string(sent) + " 0\r\n";
            }
            if (!burst.empty()) Send(burst);
            if (Read("\r\n").compare(0, 3, "+OK") != 0) Fail("TOP refused");
            Read("\r\n.\r\n");
        }
    }
    for (int n = 1; n <= total && !pipelined; ++n) {
        const std::string number = std::to_string(n);
        Command("UIDL " + number + "\r\n", false);
        if (newMessages) {
            Command("LIST " + number + "\r\n", false);
            Command("TOP " + number + " 0\r\n", true);
        }
    }
    Command("QUIT\r\n", false);
    ::close(g_fd);
    std::printf("%d messages\n", total);
    return 0;
}
