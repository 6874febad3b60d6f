// Replies come from any server: no byte stream, split into reads of any size and mixed with
// interrupted, empty and failed reads, may crash the reply readers or make them wait. A reply
// they hand back is exactly the bytes received (NUL bytes dropped) and complete by its kind's
// rule; anything else closes the connection, so a cut-off reply is never judged as a good one.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/engine_context.h"
#include "core/engine_ui.h"
#include "core/silent_engine_ui.h"
#include "core/unique_fd.h"
#include "core/zelm_error.h"
#include "protocols/transport.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Closing with a zero linger resets the connection instead of leaving it in TIME_WAIT, so a
// long run does not use up the loopback's ports.
void ResetOnClose(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

// A home folder whose error.log leads to /dev/null (every abandoned reply writes a line), and
// a loopback listener for the connections. Removed again when the run ends.
class Scratch {
public:
    Scratch() {
        std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/zelm-reply-reader-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        home = pattern + "/";
        if (::symlink("/dev/null", (home + "error.log").c_str()) != 0) __builtin_trap();
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (listener < 0 || ::bind(listener, generic, sizeof address) != 0 ||
            ::listen(listener, 16) != 0 || ::getsockname(listener, generic, &length) != 0) {
            __builtin_trap();
        }
        port = ntohs(address.sin_port);
    }
    ~Scratch() {
        ::close(listener);
        for (const char* name : {"error.log", "settings.db", "settings.db-wal", "settings.db-shm",
                                 "settings.db-journal"}) {
            ::unlink((home + name).c_str());
        }
        ::rmdir(home.c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string home;
    int listener = -1;
    int port = 0;
};

// What every input's connection reports to. Built once: the store is never used by the
// readers, but the context needs one.
struct Harness {
    Scratch scratch;
    zelm::SilentEngineUi ui;
    zelm::SettingsDb db{scratch.home + "settings.db"};
    zelm::EngineContext context{scratch.home, db, ui};
};

enum class Kind { Pop3Line, Pop3Multi, Smtp };

std::string WithoutNul(const std::string& bytes) {
    std::string kept = bytes;
    std::erase(kept, '\0');
    return kept;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The rule by which each kind of reply is complete.
void CheckComplete(const std::string& reply, Kind kind) {
    Check(EndsWith(reply, "\r\n"));
    if (kind == Kind::Pop3Multi && reply.compare(0, 3, "+OK") == 0) {
        Check(EndsWith(reply, "\r\n.\r\n"));
    }
    if (kind == Kind::Smtp) {
        // The last line's code is not followed by "-", which would announce more lines.
        const auto previous = reply.size() >= 3 ? reply.rfind('\n', reply.size() - 3) : reply.npos;
        const std::size_t last = previous == std::string::npos ? 0 : previous + 1;
        const bool continued = reply.size() >= last + 4 &&
                               std::all_of(reply.begin() + static_cast<std::ptrdiff_t>(last),
                                           reply.begin() + static_cast<std::ptrdiff_t>(last + 3),
                                           [](char c) { return c >= '0' && c <= '9'; }) &&
                               reply[last + 3] == '-';
        Check(!continued);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    FuzzedDataProvider input(data, size);

    // Either a real peer that sends the whole stream and closes, or reads, waits and failures
    // played from the input through the socket-call seam.
    const bool realPeer = input.ConsumeIntegralInRange<int>(0, 3) == 0;
    std::vector<Kind> kinds(input.ConsumeIntegralInRange<std::size_t>(1, 6));
    for (auto& kind : kinds)
        kind = static_cast<Kind>(input.ConsumeIntegralInRange<int>(0, 2));
    const auto maxReplyBytes = input.ConsumeIntegralInRange<std::size_t>(1, 4096);

    zelm::Connection connection(harness.context, "Pop3: Unable to read data from Socket", 110);
    connection.SetEndpoint("127.0.0.1");
    connection.SetPort(harness.scratch.port);
    connection.Connect();
    ResetOnClose(connection.Descriptor());
    zelm::UniqueFd peer(::accept4(harness.scratch.listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (peer.Get() < 0) __builtin_trap();
    ResetOnClose(peer.Get());

    zelm::TransportLimits& limits = connection.Limits();
    limits.maxReplyBytes = maxReplyBytes;
    std::string received;
    if (realPeer) {
        // The bytes and the close are on their way before the first read, so a wait ends at
        // once; the limits only bound a broken run.
        limits.readableWaitMs = 2000;
        limits.readLimitMs = 2000;
        const std::string stream = input.ConsumeBytesAsString(32 * 1024);
        for (std::size_t done = 0; done < stream.size();) {
            const auto sent =
                ::send(peer.Get(), stream.data() + done, stream.size() - done, MSG_NOSIGNAL);
            if (sent <= 0) __builtin_trap();
            done += static_cast<std::size_t>(sent);
        }
        ::shutdown(peer.Get(), SHUT_WR);
        connection.Calls().recv = [&received](int fd, void* buffer, std::size_t count,
                                              int flags) -> ssize_t {
            const auto got = ::recv(fd, buffer, count, flags);
            if (got > 0)
                received.append(static_cast<const char*>(buffer), static_cast<std::size_t>(got));
            return got;
        };
    } else {
        // Nothing waits: a wait the input lets time out ends at once.
        limits.readableWaitMs = 0;
        limits.readLimitMs = 0;
        // Every choice's smallest value is progress, so an exhausted input ends the reads.
        connection.Calls().poll = [&input](pollfd* fds, nfds_t, int) {
            switch (input.ConsumeIntegralInRange<int>(0, 7)) {
            case 6:
                return 0;
            case 7:
                errno = EINTR;
                return -1;
            default:
                fds[0].revents = fds[0].events;
                return 1;
            }
        };
        connection.Calls().recv = [&input, &received](int, void* buffer, std::size_t count,
                                                      int) -> ssize_t {
            switch (input.ConsumeIntegralInRange<int>(0, 15)) {
            case 13:
                errno = EINTR;
                return -1;
            case 14:
                errno = EAGAIN;
                return -1;
            case 15:
                errno = ECONNRESET;
                return -1;
            default: {
                const auto wanted = input.ConsumeIntegralInRange<std::size_t>(1, count);
                const std::string bytes = input.ConsumeBytesAsString(wanted);
                std::copy(bytes.begin(), bytes.end(), static_cast<char*>(buffer));
                received += bytes;
                return static_cast<ssize_t>(bytes.size());
            }
            }
        };
    }

    for (const Kind kind : kinds) {
        received.clear();
        std::string reply;
        try {
            reply = kind == Kind::Smtp
                        ? zelm::ReadSmtpReply(connection)
                        : zelm::ReadPop3Response(connection, kind == Kind::Pop3Multi);
        } catch (const zelm::SocketError&) {
            // A failed read closes the connection, so nothing reads on out of step.
            Check(!connection.Active());
            break;
        }
        if (!reply.empty()) {
            Check(connection.Active());
            Check(reply == WithoutNul(received));
            CheckComplete(reply, kind);
        } else if (connection.Active()) {
            // Only the probe after a reply that never became readable keeps the connection;
            // it reads two bytes at most and discards them.
            Check(received.size() <= 2);
        } else {
            break;
        }
    }
    return 0;
}
