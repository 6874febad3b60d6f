// A loopback TCP proxy that makes a local server look far away: every chunk received from
// either side is passed on only after a set delay, so a round trip costs twice that delay.
//   latency_proxy TARGET_PORT ONE_WAY_DELAY_MS
// Listens on 127.0.0.1 (a free port, printed on the first line of standard output), and for
// each connection accepted opens one to 127.0.0.1:TARGET_PORT. Runs until killed. Loopback
// addresses only: it is a benchmark tool, not a relay.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string bytes;
};

// One direction of a connection: bytes read from `from`, held until due, written to `to`.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    bool readClosed = false;
};

struct Pair {
    Direction up;   // client to server
    Direction down; // server to client
    bool done = false;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "latency_proxy: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Moves what is due; false once the direction is finished (read side closed, queue empty).
bool Flush(Direction& direction, Clock::time_point now) {
    while (!direction.queue.empty() && direction.queue.front().due <= now) {
        std::string& bytes = direction.queue.front().bytes;
        // Blocking write: the peer is a local process that reads what it asked for.
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(direction.to, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        direction.queue.pop_front();
    }
    if (direction.readClosed && direction.queue.empty()) {
        ::shutdown(direction.to, SHUT_WR);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: latency_proxy TARGET_PORT ONE_WAY_DELAY_MS\n");
        return 2;
    }
    const int target = std::atoi(argv[1]);
    const auto delay = std::chrono::milliseconds(std::atoi(argv[2]));

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = Loopback(0);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    if (::listen(listener, 16) != 0) Fail("listen");
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    std::vector<std::unique_ptr<Pair>> pairs;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        std::vector<Direction*> readers;
        auto next = Clock::time_point::max();
        for (auto& pair : pairs) {
            for (Direction* direction : {&pair->up, &pair->down}) {
                if (!direction->readClosed) {
                    fds.push_back({direction->from, POLLIN, 0});
                    readers.push_back(direction);
                }
                if (!direction->queue.empty() && direction->queue.front().due < next) {
                    next = direction->queue.front().due;
                }
            }
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            timeout = static_cast<int>(wait < 0 ? 0 : wait);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) Fail("poll");
        const auto now = Clock::now();

        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in to = Loopback(target);
                if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                    ::close(client);
                    ::close(server);
                } else {
                    NoDelay(client);
                    NoDelay(server);
                    auto pair = std::make_unique<Pair>();
                    pair->up.from = client;
                    pair->up.to = server;
                    pair->down.from = server;
                    pair->down.to = client;
                    pairs.push_back(std::move(pair));
                }
            }
        }
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Direction& direction = *readers[i];
            const ssize_t n = ::recv(direction.from, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                direction.queue.push_back({now + delay, std::string(buffer.data(), n)});
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                direction.readClosed = true;
            }
        }
        for (auto& pair : pairs) {
            const bool up = Flush(pair->up, now);
            const bool down = Flush(pair->down, now);
            if (!up && !down) {
                ::close(pair->up.from);
                ::close(pair->down.from);
                pair->done = true;
            }
        }
        std::erase_if(pairs, [](const std::unique_ptr<Pair>& pair) { return pair->done; });
    }
}
