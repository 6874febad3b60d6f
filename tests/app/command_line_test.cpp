#include "app/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/config_store.h"
#include "core/home_folder.h"
#include "tests/support/test_home.h"

extern char** environ;

namespace zelm {
namespace {

using test::TempHome;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

/// RunCommandLine in this process, as `zelm --home HOME args...`.
Outcome RunZelm(const TempHome& home, std::vector<std::string> args,
                const DesktopLauncher& desktop = {}) {
    args.insert(args.begin(), {"--home", home.Path()});
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.status = RunCommandLine(args, out, err, desktop);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

/// The real zelm binary with args, started in folder cwd; its output is collected until it
/// ends (killed after 30 s).
Outcome RunBinary(const std::vector<std::string>& args, const std::string& cwd = "/") {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<std::string> all = {ZELM_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, ZELM_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    Outcome outcome;
    if (failed != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        throw std::runtime_error("cannot start " ZELM_BINARY);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 200) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) ::close(fd.fd);
    }
    if (open > 0) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

std::string AllBytesFrom1() {
    std::string bytes;
    for (int b = 1; b <= 255; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

TEST(SettingsCommand, SetThenGetEachType) {
    TempHome home;
    struct Case {
        std::vector<std::string> set;
        std::string name;
        std::string printed;
    };
    const Case cases[] = {
        {{"Mailboxes/home", "Host", "pop.example.com"}, "Host", "pop.example.com"},
        {{"--type", "string", "Mailboxes/home", "Empty", ""}, "Empty", ""},
        {{"Mailboxes/home", "No value"}, "No value", ""},
        {{"--type", "int", "--", "/", "LastMailbox", "-1"}, "LastMailbox", "-1\n"},
        {{"--type=int", "/", "Top", "+2147483647"}, "Top", "2147483647\n"},
        {{"--type", "int", "--", "/", "Left", "-2147483648"}, "Left", "-2147483648\n"},
        {{"--type", "list", "Mailboxes/home", "Operation", "a", "b"}, "Operation", "a\r\nb\r\n"},
        {{"--type", "list", "Mailboxes/home", "Empty list"}, "Empty list", ""},
        {{"--type", "password", "Mailboxes/home", "Password", "abc"}, "Password", "\xe1\xe2\xe3"},
        {{"Mailboxes/home", "Dash", "--", "-x"}, "Dash", "-x"},
        {{"--", "Mailboxes/home", "Dash2", "-1"}, "Dash2", "-1"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> set = {"settings", "set"};
        set.insert(set.end(), c.set.begin(), c.set.end());
        const std::string keyPath = c.name == "LastMailbox" || c.name == "Top" || c.name == "Left"
                                        ? "/"
                                        : "mailboxes\\HOME";
        SCOPED_TRACE(c.name);
        const Outcome setOutcome = RunZelm(home, set);
        EXPECT_EQ(setOutcome.status, 0) << setOutcome.err;
        const Outcome get = RunZelm(home, {"settings", "get", keyPath, c.name});
        EXPECT_EQ(get.status, 0) << get.err;
        EXPECT_EQ(get.out, c.printed);
    }
}

TEST(SettingsCommand, UsageErrorsExitWithTwoAndChangeNothing) {
    TempHome home;
    const std::vector<std::vector<std::string>> cases = {
        {"settings"},
        {"settings", "frobnicate"},
        {"settings", "get", "Mailboxes/home"},
        {"settings", "get", "Mailboxes/home", "Host", "extra"},
        {"settings", "set", "--type", "int", "Mailboxes/home", "Top"},
        {"settings", "set", "Mailboxes/home", "Host", "a", "b"},
        {"settings", "set", "--type", "float", "Mailboxes/home", "Host", "1"},
        {"settings", "set", "--type"},
        {"settings", "set", "--type", "int", "Mailboxes/home", "Top", "2147483648"},
        {"settings", "set", "--type", "int", "Mailboxes/home", "Top", "12a"},
        {"settings", "set", "--type", "int", "Mailboxes/home", "Top", ""},
        {"settings", "set", "--type", "int", "Mailboxes/home", "LastMailbox", "-1"},
        {"settings", "get", "--type", "int", "Mailboxes/home", "Top"},
        {"settings", "delete", ""},
        {"settings", "delete", "/"},
        {"settings", "delete", "\\//"},
        {"settings", "list"},
        {"settings", "export", "a", "b"},
        {"settings", "import"},
        {"frobnicate"},
        {"--verbose", "settings", "list", "/"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& arg : args)
            joined += arg + " ";
        SCOPED_TRACE(joined);
        const Outcome outcome = RunZelm(home, args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_NE(outcome.err.find("zelm --help"), std::string::npos) << outcome.err;
    }
    EXPECT_EQ(RunZelm(home, {"settings", "list", "Mailboxes"}).status, 1);
}

TEST(SettingsCommand, MissingKeysAndValuesExitWithOne) {
    TempHome home;
    ASSERT_EQ(RunZelm(home, {"settings", "set", "Mailboxes/home", "Host", "h"}).status, 0);
    const std::vector<std::vector<std::string>> cases = {
        {"settings", "get", "Mailboxes/away", "Host"},
        {"settings", "get", "Mailboxes/home", "Port"},
        {"settings", "delete", "Mailboxes/home", "Port"},
        {"settings", "delete", "Mailboxes/away"},
        {"settings", "delete", "Nowhere/away"},
        {"settings", "list", "Mailboxes/away"},
        {"settings", "import", home.File("no such file")},
        {"settings", "set", "Mailboxes/zelm.lock", "Host", "x"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[1] + " " + args[2]);
        const Outcome outcome = RunZelm(home, args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.rfind("zelm: ", 0), 0u) << outcome.err;
    }
    EXPECT_NE(RunZelm(home, {"settings", "set", "Mailboxes/zelm.lock", "Host", "x"})
                  .err.find("\"zelm.lock\""),
              std::string::npos);
}

TEST(SettingsCommand, DeleteListAndExport) {
    TempHome home;
    RunZelm(home, {"settings", "set", "Mailboxes/home", "Host", "h"});
    RunZelm(home, {"settings", "set", "--type", "int", "Mailboxes/home", "MailboxEnabled", "1"});
    RunZelm(home, {"settings", "set", "Mailboxes/home/Filters/spam", "Rules", ""});
    RunZelm(home, {"settings", "set", "Mailboxes/home/Filters/Ads", "Rules", ""});
    RunZelm(home, {"settings", "set", "Mailboxes/beta", "Host", "b\"q"});

    Outcome list = RunZelm(home, {"settings", "list", "Mailboxes"});
    EXPECT_EQ(list.out, "beta\\\nhome\\\n");
    list = RunZelm(home, {"settings", "list", "mailboxes/home"});
    EXPECT_EQ(list.out, "Filters\\\n\"Host\" = \"h\"\n\"MailboxEnabled\" = int 1\n");
    list = RunZelm(home, {"settings", "list", "Mailboxes/home/Filters"});
    EXPECT_EQ(list.out, "Ads\\\nspam\\\n");

    EXPECT_EQ(RunZelm(home, {"settings", "delete", "Mailboxes/home", "host"}).status, 0);
    EXPECT_EQ(RunZelm(home, {"settings", "get", "Mailboxes/home", "Host"}).status, 1);
    EXPECT_EQ(RunZelm(home, {"settings", "delete", "Mailboxes/HOME/"}).status, 0);
    EXPECT_EQ(RunZelm(home, {"settings", "list", "Mailboxes/home/Filters"}).status, 1);

    const Outcome exported = RunZelm(home, {"settings", "export"});
    EXPECT_EQ(exported.status, 0);
    EXPECT_EQ(exported.out, "[Software]\n\n[Software\\Tarvo Software]\n\n"
                            "[Software\\Tarvo Software\\Zelm]\n\n"
                            "[Software\\Tarvo Software\\Zelm\\Mailboxes]\n\n"
                            "[Software\\Tarvo Software\\Zelm\\Mailboxes\\beta]\n"
                            "\"Host\" = \"b\\\"q\"\n");
    EXPECT_EQ(RunZelm(home, {"settings", "export", home.File("tree.txt")}).status, 0);
    EXPECT_EQ(home.Read("tree.txt"), exported.out);
    // A relative file lies in the home folder, never in the folder zelm was started from.
    EXPECT_EQ(RunZelm(home, {"settings", "export", "relative.txt"}).status, 0);
    EXPECT_EQ(home.Read("relative.txt"), exported.out);
    EXPECT_EQ(RunZelm(home, {"settings", "import", "relative.txt"}).status, 0);
}

TEST(SettingsCommand, AMalformedImportNamesItsLineAndChangesNothing) {
    TempHome home;
    RunZelm(home, {"settings", "set", "Mailboxes/home", "Host", "kept"});
    home.Write("bad.txt", "[Software\\Tarvo Software\\Zelm\\Mailboxes\\new]\n"
                          "\"Host\" = \"x\"\n"
                          "\"Port\" = 110\n");
    const Outcome outcome = RunZelm(home, {"settings", "import", home.File("bad.txt")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("bad.txt: line 3: "), std::string::npos) << outcome.err;
    EXPECT_EQ(RunZelm(home, {"settings", "get", "Mailboxes/home", "Host"}).out, "kept");
    EXPECT_EQ(RunZelm(home, {"settings", "list", "Mailboxes/new"}).status, 1);
}

TEST(CommandLine, HomeOptionWinsOverTheEnvironment) {
    TempHome optionHome;
    TempHome envHome;
    ::setenv("ZELM_HOME", envHome.Path().c_str(), 1);
    EXPECT_EQ(RunZelm(optionHome, {"settings", "set", "/", "Where", "option"}).status, 0);
    const std::vector<std::string> withoutOption = {"settings", "set", "/", "Where", "env"};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunCommandLine(withoutOption, out, err), 0);
    ::unsetenv("ZELM_HOME");
    EXPECT_EQ(RunZelm(optionHome, {"settings", "get", "/", "Where"}).out, "option");
    EXPECT_EQ(RunZelm(envHome, {"settings", "get", "/", "Where"}).out, "env");
}

TEST(CommandLine, TheWindowRunsOncePerHomeFolder) {
    TempHome home;
    std::string seenDir;
    bool lockHeldWhileRunning = false;
    const DesktopLauncher desktop = [&](const std::string& programDir, bool alreadyRunning) {
        EXPECT_FALSE(alreadyRunning);
        seenDir = programDir;
        lockHeldWhileRunning = !InstanceLock(programDir).Held();
        return 7;
    };
    EXPECT_EQ(RunZelm(home, {}, desktop).status, 7);
    EXPECT_EQ(seenDir, home.Path());
    EXPECT_TRUE(lockHeldWhileRunning);

    const InstanceLock running(home.Path());
    ASSERT_TRUE(running.Held());
    // A second copy only gets to say that the first runs; the window decides the status.
    bool toldRunning = false;
    const Outcome second = RunZelm(home, {}, [&](const std::string&, bool alreadyRunning) {
        toldRunning = alreadyRunning;
        return 1;
    });
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(toldRunning);

    // settings never takes the lock, so it works while the window runs.
    EXPECT_EQ(RunZelm(home, {"settings", "set", "/", "TimerON", "x"}).status, 0);
    // A build without a window says so.
    TempHome other;
    EXPECT_EQ(RunZelm(other, {}).status, 1);
}

// The real binary, as a user or a script runs it.

TEST(ZelmBinary, ListValueSetThenPrintedAsItsLines) {
    TempHome home;
    Outcome set = RunBinary({"--home", home.Path(), "settings", "set", "--type", "list",
                             "Mailboxes/home", "Operation", "a", "b"});
    ASSERT_EQ(set.status, 0) << set.err;
    const Outcome get =
        RunBinary({"--home", home.Path(), "settings", "get", "Mailboxes/home", "Operation"});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, "a\r\nb\r\n");
}

TEST(ZelmBinary, ExportImportIntoAnEmptyHomeReproducesTheTree) {
    TempHome source;
    TempHome target;
    TempHome workFolder;
    const std::string bytes = AllBytesFrom1();
    const std::vector<std::vector<std::string>> sets = {
        {"Mailboxes/home", "Bytes", bytes},
        {"--type", "password", "Mailboxes/home", "Password", "secret\xff"},
        {"--type", "int", "--", "/", "LastMailbox", "-1"},
        {"--type", "list", "Mailboxes/home/Filters/spam", "Rules", "      Subject contains `x`"},
        {"Mailboxes/Office", "Host", "pop.example.com"},
    };
    for (const auto& args : sets) {
        std::vector<std::string> all = {"--home", source.Path(), "settings", "set"};
        all.insert(all.end(), args.begin(), args.end());
        ASSERT_EQ(RunBinary(all).status, 0);
    }
    const Outcome exported = RunBinary({"--home", source.Path(), "settings", "export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    source.Write("tree.txt", exported.out);

    // Started in a folder of its own, which must stay empty.
    const Outcome imported =
        RunBinary({"--home", target.Path(), "settings", "import", source.File("tree.txt")},
                  workFolder.Path());
    ASSERT_EQ(imported.status, 0) << imported.err;
    const Outcome again = RunBinary({"--home", target.Path(), "settings", "export"});
    EXPECT_TRUE(again.out == exported.out) << again.out;
    const Outcome get =
        RunBinary({"--home", target.Path(), "settings", "get", "Mailboxes/home", "Bytes"});
    EXPECT_TRUE(get.out == bytes);
    EXPECT_TRUE(std::filesystem::is_empty(workFolder.Path()));
}

/// No display for the programs started while it lives (as over ssh); the variables come back
/// afterwards.
class NoDisplay {
public:
    NoDisplay() {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(value != nullptr, value != nullptr ? value : "");
            ::unsetenv(name);
        }
    }
    ~NoDisplay() {
        for (std::size_t i = 0; i < m_saved.size(); ++i) {
            if (m_saved[i].first) ::setenv(kNames[i], m_saved[i].second.c_str(), 1);
        }
    }
    NoDisplay(const NoDisplay&) = delete;
    NoDisplay& operator=(const NoDisplay&) = delete;

private:
    static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<std::pair<bool, std::string>> m_saved;
};

// The message box a second copy shows is driven in the end-to-end test; without a display it
// still says why it ends.
TEST(ZelmBinary, ASecondWindowSaysTheFirstIsRunning) {
    TempHome home;
    const InstanceLock running(home.Path());
    ASSERT_TRUE(running.Held());
    const NoDisplay noDisplay;
    const Outcome second = RunBinary({"--home", home.Path()});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "zelm is already running.\n");
    EXPECT_EQ(second.out, "");
}

TEST(ZelmBinary, WithoutADisplayTheWindowPointsToTheSessionCommand) {
    TempHome home;
    const NoDisplay noDisplay;
    const Outcome outcome = RunBinary({"--home", home.Path()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "zelm: no display was found (DISPLAY or WAYLAND_DISPLAY is not set, "
                           "or the display cannot be reached); 'zelm session' runs without one\n");
    EXPECT_FALSE(home.Exists("settings.db"));
}

} // namespace
} // namespace zelm

namespace zelm {
namespace {

/// Starts the window of the binary on the offscreen platform; the process id, 0 when it
/// could not start.
pid_t StartWindow(const TempHome& home) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<std::string> all = {ZELM_BINARY, "--home", home.Path()};
    std::vector<char*> argv;
    for (auto& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, ZELM_BINARY, nullptr, nullptr, argv.data(), environ) != 0) return 0;
    return pid;
}

// The window lives in a module that only `zelm` without a command loads.
TEST(ZelmBinary, TheWindowLoadsItsModuleAndKeepsRunning) {
    TempHome home;
    const pid_t pid = StartWindow(home);
    ASSERT_GT(pid, 0);

    bool moduleLoaded = false;
    int status = 0;
    bool exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!moduleLoaded && !exited && std::chrono::steady_clock::now() < deadline) {
        std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
        const std::string text((std::istreambuf_iterator<char>(maps)),
                               std::istreambuf_iterator<char>());
        moduleLoaded = text.find("zelm_window.so") != std::string::npos &&
                       text.find("libQt6Widgets") != std::string::npos;
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!moduleLoaded && !exited) ::usleep(20000);
    }
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(moduleLoaded);
    EXPECT_FALSE(exited) << "the window ended by itself with status " << status;
}

// A logout or kill ends the window as Exit does: the position is stored, the status is 0.
TEST(ZelmBinary, SigtermEndsTheWindowAsExitDoes) {
    TempHome home;
    const pid_t pid = StartWindow(home);
    ASSERT_GT(pid, 0);
    // The store exists once start-up runs, and the signals are watched before that.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!home.Exists("settings.db") && std::chrono::steady_clock::now() < deadline)
        ::usleep(20000);
    ASSERT_TRUE(home.Exists("settings.db"));
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(pid, &status, WNOHANG) != pid; ++i)
        ::usleep(20000);
    if (!WIFEXITED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(RunBinary({"--home", home.Path(), "settings", "get", "/", "LastMailbox"}).out,
              "-1\n");
}

TEST(ZelmBinary, HeadlessCommandsNeverLoadQt) {
    // The executable names no Qt library, so session and settings start without loading one.
    std::ifstream binary(ZELM_BINARY, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(binary)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.find("libQt6"), std::string::npos);
}

} // namespace
} // namespace zelm
