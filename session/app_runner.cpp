#include "session/app_runner.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/config_store.h"
#include "core/string_helpers.h"

extern char** environ;

namespace zelm {

namespace {

constexpr std::int32_t DefaultTimeLimitSeconds = 600;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// posix_spawn's attribute objects must be destroyed on every path out of Execute.
class SpawnFileActions {
public:
    SpawnFileActions() { posix_spawn_file_actions_init(&m_actions); }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&m_attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&m_attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

// The path names something that can be run: it exists and is not a folder.
bool IsFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// A bare name of a file in the home folder runs that file: the program's own folder comes
// before the search path. The child starts in the home folder, so "./" finds it there. Any
// other bare name is looked up in PATH.
std::string RunnableName(std::string name, const std::string& homeDir) {
    if (!name.empty() && name.find('/') == std::string::npos && IsFile(homeDir + name))
        return "./" + name;
    return name;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

} // namespace

std::vector<std::string> SplitProgramText(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true; // "" is an empty argument of its own
        } else if (IsBlank(c) && !quoted) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::vector<std::string> ProgramArguments(const std::string& text, const std::string& homeDir) {
    if (!text.empty() && IsFile(text.front() == '/' ? text : homeDir + text))
        return {RunnableName(text, homeDir)};
    auto words = SplitProgramText(text);
    if (!words.empty()) words.front() = RunnableName(std::move(words.front()), homeDir);
    return words;
}

std::chrono::seconds ExtProgTimeLimit(SettingsDb& db) {
    const auto text = ReadRegString(db, SettingsRoot, "ExtProgTimeout", "");
    auto seconds = TextToIntDef(Trim(text), DefaultTimeLimitSeconds);
    // No limit at all would let one program hang every later session.
    if (seconds <= 0) seconds = DefaultTimeLimitSeconds;
    return std::chrono::seconds(seconds);
}

TAppRunner::TAppRunner() : TAppRunner(Timing{}) {}

TAppRunner::TAppRunner(Timing timing) : m_timing(timing) {}

TAppRunner::~TAppRunner() {
    if (m_pid > 0) {
        ::kill(-m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_pidFd >= 0) ::close(m_pidFd);
}

bool TAppRunner::Execute(const std::vector<std::string>& argv, const std::string& workDir,
                         std::string& error) {
    if (m_pid > 0) {
        error = "a program is still running";
        return false;
    }
    m_finished = false;
    m_exitCode = StillActive;
    if (argv.empty() || argv.front().empty()) {
        error = "no program named";
        return false;
    }

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    SpawnFileActions actions;
    posix_spawn_file_actions_addchdir_np(actions.get(), workDir.c_str());
    // Our own descriptors are close-on-exec already; this also covers any a library left open.
    posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

    SpawnAttributes attributes;
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(attributes.get(), &noSignals);
    // A signal the session ignores (SIGPIPE) or handles must reach the program as usual.
    posix_spawnattr_setsigdefault(attributes.get(), &allSignals);
    posix_spawnattr_setpgroup(attributes.get(), 0);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                   POSIX_SPAWN_SETPGROUP);

    pid_t pid = -1;
    const int result =
        ::posix_spawnp(&pid, args.front(), actions.get(), attributes.get(), args.data(), environ);
    if (result != 0) {
        error = std::strerror(result);
        return false;
    }
    m_pid = pid;
    // A pidfd (always close-on-exec) lets the wait wake the moment the child ends; without one
    // the wait polls. Called through syscall() because glibc's header lacks C linkage.
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool TAppRunner::TryReap() {
    if (m_pid <= 0) return true;
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(m_pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0) return false;
    if (reaped == m_pid) {
        if (WIFEXITED(status))
            m_exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_exitCode = 128 + WTERMSIG(status);
    } else {
        // ECHILD: the child is gone and its status with it.
        m_exitCode = -1;
    }
    Discard();
    m_finished = true;
    return true;
}

void TAppRunner::Discard() {
    m_pid = -1;
    if (m_pidFd >= 0) ::close(m_pidFd);
    m_pidFd = -1;
}

void TAppRunner::WaitSlice(std::chrono::milliseconds slice) {
    const int timeout = static_cast<int>(slice.count());
    if (m_pidFd >= 0) {
        pollfd entry{m_pidFd, POLLIN, 0};
        ::poll(&entry, 1, timeout);
    } else {
        ::poll(nullptr, 0, timeout);
    }
}

void TAppRunner::WaitForExit(std::chrono::milliseconds timeLimit, const std::function<void()>& pump,
                             const std::function<void(ChildStop)>& onStop) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeLimit;
    Clock::time_point killAt{};
    bool terminated = false;
    bool killed = false;
    while (!TryReap()) {
        WaitSlice(m_timing.pollInterval);
        if (TryReap()) break;
        if (pump) pump();
        const auto now = Clock::now();
        if (!terminated && now >= deadline) {
            ::kill(-m_pid, SIGTERM);
            terminated = true;
            killAt = now + m_timing.killGrace;
            if (onStop) onStop(ChildStop::Terminated);
        } else if (terminated && !killed && now >= killAt) {
            ::kill(-m_pid, SIGKILL);
            killed = true;
            if (onStop) onStop(ChildStop::Killed);
        }
    }
}

std::vector<std::string> ExternalProgramArgv(EngineContext& context, const std::string& program) {
    auto argv = ProgramArguments(program, context.programDir);
    argv.push_back(AbsolutePath(context.MessageFilePath()));
    return argv;
}

bool RunExternalProgram(EngineContext& context, const std::string& program) {
    const auto limit = ExtProgTimeLimit(context.settings);
    const auto argv = ExternalProgramArgv(context, program);

    TAppRunner runner;
    std::string reason;
    if (argv.size() < 2 || !runner.Execute(argv, context.programDir, reason)) {
        context.ui.SetStatusPanel(3, "Error");
        context.log.WriteErrorLine("Error running external program " + program);
        return false;
    }

    runner.WaitForExit(
        limit, [&context] { context.ui.PumpEvents(); },
        [&](ChildStop stop) {
            if (stop == ChildStop::Terminated) {
                context.log.WriteErrorLine("External program " + program + " still running after " +
                                           std::to_string(limit.count()) +
                                           " seconds: stopped (SIGTERM)");
            } else {
                context.log.WriteErrorLine("External program " + program +
                                           " did not stop: killed (SIGKILL)");
            }
        });
    return true;
}

} // namespace zelm
