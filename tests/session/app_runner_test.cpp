#include "session/app_runner.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_store.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path Script(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
    return path;
}

// A home folder of its own per test, with executable shell scripts in it.
class AppRunnerTest : public ::testing::Test {
protected:
    std::string Home() const { return m_home.Path(); }
    fs::path Script(const std::string& name, const std::string& body) {
        return zelm::Script(m_dir / name, body);
    }

    test::TempHome m_home;
    fs::path m_dir{m_home.Path()};
};

TEST(SplitProgramText, BlanksSeparateAndDoubleQuotesGroup) {
    struct Case {
        const char* text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"prog", {"prog"}},
        {"  prog  -a\t-b  ", {"prog", "-a", "-b"}},
        {"\"/opt/my tools/prog\" -v", {"/opt/my tools/prog", "-v"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"prog \"\" x", {"prog", "", "x"}},
        {"prog \"unterminated arg", {"prog", "unterminated arg"}},
        {"c:\\tools\\handle.exe", {"c:\\tools\\handle.exe"}},
        {"prog ;rm -rf $HOME", {"prog", ";rm", "-rf", "$HOME"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitProgramText(c.text), c.words);
    }
}

TEST_F(AppRunnerTest, ProgramArgumentsKeepAnExistingPathWithBlanksWhole) {
    fs::create_directories(m_dir / "My Tools");
    Script("My Tools/Handle Mail", "exit 0\n");
    const auto absolute = (m_dir / "My Tools/Handle Mail").string();

    EXPECT_EQ(ProgramArguments(absolute, Home()), std::vector<std::string>{absolute});
    // Relative paths are found from the home folder, where the program starts.
    EXPECT_EQ(ProgramArguments("My Tools/Handle Mail", Home()),
              std::vector<std::string>{"My Tools/Handle Mail"});
    // Not a file (missing, or a folder): words.
    EXPECT_EQ(ProgramArguments(absolute + " -x", Home()),
              (std::vector<std::string>{(m_dir / "My").string(), "Tools/Handle", "Mail", "-x"}));
    EXPECT_EQ(ProgramArguments((m_dir / "My Tools").string(), Home()),
              (std::vector<std::string>{(m_dir / "My").string(), "Tools"}));
    EXPECT_EQ(ProgramArguments("echo hello", Home()), (std::vector<std::string>{"echo", "hello"}));
}

TEST_F(AppRunnerTest, BareNameOfAHomeFolderFileRunsThatFile) {
    // The home folder stands for the program's own folder, searched before PATH.
    Script("handle", "exit 0\n");
    Script("Handle Mail", "exit 0\n");
    fs::create_directories(m_dir / "echo");
    const struct {
        const char* text;
        std::vector<std::string> argv;
    } cases[] = {
        {"handle", {"./handle"}},
        {"handle -v \"a b\"", {"./handle", "-v", "a b"}},
        {"Handle Mail", {"./Handle Mail"}},
        // A folder of that name is no program: the search path decides.
        {"echo hi", {"echo", "hi"}},
        {"sh -c true", {"sh", "-c", "true"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ProgramArguments(c.text, Home()), c.argv);
    }
}

TEST_F(AppRunnerTest, ChildGetsItsArgumentsTheHomeFolderAndOnlyTheStandardDescriptors) {
    // A descriptor the parent left inheritable must still not reach the child.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 57), 57);
    ::close(leaked);

    const auto script =
        Script("Probe Script", R"(for a in "$@"; do printf '[%s]' "$a"; done > args.txt
pwd > cwd.txt
ls /proc/$$/fd > fds.txt
set -- $(cat /proc/$$/stat | sed 's/^.*) //')
echo "$$ $3" > pgid.txt
grep '^SigIgn:' /proc/$$/status > sigign.txt
exit 7
)");
    // The session ignores SIGPIPE; the program must start with the default.
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    TAppRunner runner;
    std::string error;
    ASSERT_TRUE(runner.Execute({script.string(), "one two", "", "/tmp/x/zelm.dat"}, Home(), error))
        << error;
    runner.WaitForExit(60s, {}, {});
    std::signal(SIGPIPE, oldPipe);
    ::close(57);

    EXPECT_TRUE(runner.Finished());
    EXPECT_EQ(runner.ExitCode(), 7);
    EXPECT_EQ(ReadFile(m_dir / "args.txt"), "[one two][][/tmp/x/zelm.dat]");
    EXPECT_EQ(ReadFile(m_dir / "cwd.txt"), fs::path(Home()).parent_path().string() + "\n");
    EXPECT_EQ(ReadFile(m_dir / "fds.txt").find("57"), std::string::npos)
        << ReadFile(m_dir / "fds.txt");
    std::istringstream pgid(ReadFile(m_dir / "pgid.txt"));
    std::string pid, group;
    pgid >> pid >> group;
    EXPECT_EQ(pid, group) << "the program leads a process group of its own";
    // Only the standard signals count: the C library keeps its own internal ones ignored.
    const auto ignored = std::stoull(ReadFile(m_dir / "sigign.txt").substr(8), nullptr, 16);
    EXPECT_EQ(ignored & ((1ULL << 31) - 1), 0U) << "SigIgn " << std::hex << ignored;
}

TEST_F(AppRunnerTest, ProgramThatCannotStartIsReported) {
    TAppRunner runner;
    std::string error;
    EXPECT_FALSE(runner.Execute({(m_dir / "missing").string()}, Home(), error));
    EXPECT_FALSE(error.empty());
    const auto plain = m_dir / "not-executable";
    std::ofstream(plain) << "data\n";
    EXPECT_FALSE(runner.Execute({plain.string()}, Home(), error));
    EXPECT_FALSE(runner.Execute({}, Home(), error));
    EXPECT_FALSE(runner.Finished());
}

TEST_F(AppRunnerTest, WaitPumpsTheWindowUntilTheProgramEnds) {
    const auto script = Script("slow", "sleep 0.6\ntouch done\n");
    TAppRunner runner;
    std::string error;
    ASSERT_TRUE(runner.Execute({script.string()}, Home(), error)) << error;
    int pumps = 0;
    bool stopped = false;
    runner.WaitForExit(
        60s, [&] { ++pumps; }, [&](ChildStop) { stopped = true; });
    EXPECT_TRUE(fs::exists(m_dir / "done")) << "the wait ends only after the program";
    EXPECT_GE(pumps, 2);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(runner.ExitCode(), 0);
}

TEST_F(AppRunnerTest, OverrunningProgramIsTerminatedWithWhatItStarted) {
    // The shell waits on a child of its own; both must go.
    const auto script = Script("hang", "sleep 30 &\necho $! > child.txt\nwait\n");
    TAppRunner runner(TAppRunner::Timing{20ms, 5000ms});
    std::string error;
    ASSERT_TRUE(runner.Execute({script.string()}, Home(), error)) << error;
    std::vector<ChildStop> stops;
    runner.WaitForExit(
        300ms, [] {}, [&](ChildStop stop) { stops.push_back(stop); });
    EXPECT_EQ(stops, std::vector<ChildStop>{ChildStop::Terminated});
    EXPECT_EQ(runner.ExitCode(), 128 + SIGTERM);
    const auto grandchild = std::stoi(ReadFile(m_dir / "child.txt"));
    // The orphan is reaped by init; it is gone once kill(pid, 0) fails or it is a zombie.
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        const auto stat = ReadFile("/proc/" + std::to_string(grandchild) + "/stat");
        gone = stat.empty() || stat.find(") Z") != std::string::npos;
        if (!gone) ::usleep(10000);
    }
    EXPECT_TRUE(gone) << "the program's own child survived the time-out";
}

TEST_F(AppRunnerTest, ProgramIgnoringTerminationIsKilledAfterTheGrace) {
    const auto script = Script("stubborn", "trap '' TERM\nwhile :; do sleep 0.05; done\n");
    TAppRunner runner(TAppRunner::Timing{20ms, 300ms});
    std::string error;
    ASSERT_TRUE(runner.Execute({script.string()}, Home(), error)) << error;
    std::vector<ChildStop> stops;
    runner.WaitForExit(
        200ms, [] {}, [&](ChildStop stop) { stops.push_back(stop); });
    EXPECT_EQ(stops, (std::vector<ChildStop>{ChildStop::Terminated, ChildStop::Killed}));
    EXPECT_EQ(runner.ExitCode(), 128 + SIGKILL);
}

TEST(ExtProgTimeLimit, SecondsFromTheSettingsRootElseTenMinutes) {
    test::TestContext t;
    EXPECT_EQ(ExtProgTimeLimit(t.db), 600s);
    const std::pair<const char*, std::chrono::seconds> cases[] = {
        {"30", 30s}, {" 45 ", 45s}, {"abc", 600s}, {"", 600s}, {"0", 600s}, {"-3", 600s}};
    for (const auto& [text, limit] : cases) {
        SCOPED_TRACE(text);
        WriteRegString(t.db, SettingsRoot, "ExtProgTimeout", text);
        EXPECT_EQ(ExtProgTimeLimit(t.db), limit);
    }
}

TEST(RunExternalProgram, SplitsTheTextAndAppendsTheMessageFile) {
    test::TestContext t;
    t.home.Write("record.sh", "printf '[%s]' \"$@\" > args.txt\n");
    EXPECT_TRUE(RunExternalProgram(t.context, "sh record.sh \"one two\""));
    EXPECT_EQ(t.home.Read("args.txt"), "[one two][" + t.home.File("zelm.dat") + "]");
    EXPECT_TRUE(t.ui.errorLines.empty());
}

TEST(RunExternalProgram, BareNameRunsTheScriptInTheHomeFolder) {
    test::TestContext t;
    Script(t.home.File("record"), "printf '[%s]' \"$@\" > args.txt\n");
    EXPECT_TRUE(RunExternalProgram(t.context, "record -v"));
    EXPECT_EQ(t.home.Read("args.txt"), "[-v][" + t.home.File("zelm.dat") + "]");
    EXPECT_TRUE(t.ui.errorLines.empty());
}

TEST(RunExternalProgram, ProgramThatCannotStartShowsErrorAndIsLogged) {
    test::TestContext t;
    EXPECT_FALSE(RunExternalProgram(t.context, "/no/such/Program --x"));
    EXPECT_EQ(t.ui.panels[3], "Error");
    ASSERT_EQ(t.ui.errorLines.size(), 1U);
    EXPECT_EQ(t.ui.errorLines[0].substr(21),
              "Error running external program /no/such/Program --x\r\n");
    EXPECT_FALSE(RunExternalProgram(t.context, "   "));
}

TEST(RunExternalProgram, OverrunIsStoppedAndLogged) {
    test::TestContext t;
    WriteRegString(t.db, SettingsRoot, "ExtProgTimeout", "1");
    const auto program = Script(t.home.File("Hang"), "sleep 30\n").string();
    EXPECT_TRUE(RunExternalProgram(t.context, program));
    ASSERT_EQ(t.ui.errorLines.size(), 1U);
    EXPECT_EQ(t.ui.errorLines[0].substr(21), "External program " + program +
                                                 " still running after 1 seconds: stopped "
                                                 "(SIGTERM)\r\n");
    EXPECT_GE(t.ui.pumpCount, 5);
}

} // namespace
} // namespace zelm
