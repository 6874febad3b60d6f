#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

// The real zelm binary as a user, a cron job or a crash meets it.
namespace zelm::test {

/// The zelm binary started with arguments, its stdout and stderr collected through pipes.
class Zelm {
public:
    explicit Zelm(const std::vector<std::string>& args) {
        int outPipe[2];
        int errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        std::vector<std::string> all = {ZELM_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const int failed =
            ::posix_spawn(&m_pid, ZELM_BINARY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        m_out = outPipe[0];
        m_err = errPipe[0];
        if (failed != 0) {
            throw std::runtime_error("cannot start " ZELM_BINARY);
        }
    }
    ~Zelm() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
        ::close(m_err);
    }
    Zelm(const Zelm&) = delete;
    Zelm& operator=(const Zelm&) = delete;

    void Signal(int signal) const { ::kill(m_pid, signal); }
    /// Stops reading stdout, as a reader that has had enough does.
    void CloseStdout() {
        ::close(m_out);
        m_out = -1;
    }

    /// Reads stdout and stderr to their end and returns the exit status (-1 after limitMs).
    int Finish(int limitMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        bool outOpen = m_out >= 0;
        bool errOpen = true;
        while (outOpen || errOpen) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                return -1;
            }
            pollfd fds[2] = {{m_out, static_cast<short>(outOpen ? POLLIN : 0), 0},
                             {m_err, static_cast<short>(errOpen ? POLLIN : 0), 0}};
            ::poll(fds, 2, static_cast<int>(left));
            outOpen = outOpen && (!fds[0].revents || Drain(m_out, out));
            errOpen = errOpen && (!fds[1].revents || Drain(m_err, err));
        }
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string out;
    std::string err;

private:
    // False at the end of the stream.
    static bool Drain(int fd, std::string& into) {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        into.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

/// Waits up to limitMs for condition, looking every pollMs; true when it came.
inline bool WaitFor(const std::function<bool()>& condition, int limitMs = 10000, int pollMs = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

} // namespace zelm::test
