#include "core/home_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "core/zelm_error.h"
#include "tests/support/test_home.h"

extern char** environ;

namespace zelm {
namespace {

namespace fs = std::filesystem;

/// Sets or clears environment variables for one test and puts the old values back.
class Environment {
public:
    void Set(const char* name, const std::optional<std::string>& value) {
        if (m_saved.find(name) == m_saved.end()) {
            const char* old = std::getenv(name);
            m_saved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~Environment() {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

TEST(HomeFolder, ResolutionOrder) {
    test::TempHome folder;
    const std::string t = folder.Dir();
    struct Case {
        const char* what;
        std::string option;
        std::optional<std::string> zelmHome;
        std::optional<std::string> dataHome;
        std::optional<std::string> home;
        std::string expected;
    };
    const Case cases[] = {
        {"--home wins", t + "/opt", t + "/env", t + "/data", t + "/user", t + "/opt"},
        {"then ZELM_HOME", "", t + "/env", t + "/data", t + "/user", t + "/env"},
        {"empty ZELM_HOME is unset", "", "", t + "/data", t + "/user", t + "/data/zelm"},
        {"then XDG_DATA_HOME", "", std::nullopt, t + "/data", t + "/user", t + "/data/zelm"},
        {"relative XDG_DATA_HOME is ignored", "", std::nullopt, "data", t + "/user",
         t + "/user/.local/share/zelm"},
        {"then HOME", "", std::nullopt, std::nullopt, t + "/user", t + "/user/.local/share/zelm"},
        {"normalised", t + "/a/../opt/./", std::nullopt, std::nullopt, t, t + "/opt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Environment env;
        env.Set("ZELM_HOME", c.zelmHome);
        env.Set("XDG_DATA_HOME", c.dataHome);
        env.Set("HOME", c.home);
        EXPECT_EQ(ResolveHomeFolder(c.option), c.expected);
    }
}

TEST(HomeFolder, ARelativeHomeIsMadeAbsoluteOnce) {
    test::TempHome folder;
    const fs::path before = fs::current_path();
    fs::current_path(folder.Dir());
    const std::string resolved = ResolveHomeFolder("rel/home");
    fs::current_path(before);
    EXPECT_EQ(resolved, fs::canonical(folder.Dir()).string() + "/rel/home");
}

TEST(HomeFolder, IsCreatedPrivateWithItsParents) {
    test::TempHome folder;
    const mode_t old = ::umask(0);
    const std::string programDir = PrepareProgramDir(folder.File("a/b/home"));
    ::umask(old);
    EXPECT_EQ(programDir, folder.File("a/b/home") + "/");
    EXPECT_EQ(ModeOf(folder.File("a/b/home")), 0700u);
    EXPECT_EQ(ModeOf(folder.File("a")), 0700u);

    // An existing folder is used as it is, mode included.
    ::chmod(folder.File("a/b/home").c_str(), 0750);
    EXPECT_EQ(PrepareProgramDir(folder.File("a/b/home/")), programDir);
    EXPECT_EQ(ModeOf(folder.File("a/b/home")), 0750u);
}

TEST(HomeFolder, AFileInTheWayIsAnError) {
    test::TempHome folder;
    std::ofstream(folder.File("file")) << "x";
    EXPECT_THROW(PrepareProgramDir(folder.File("file")), ZelmError);
    EXPECT_THROW(PrepareProgramDir(folder.File("file/home")), ZelmError);
}

TEST(InstanceLock, OneHolderPerHomeFolder) {
    test::TempHome first;
    test::TempHome second;
    const std::string dir = PrepareProgramDir(first.Dir());
    {
        const InstanceLock lock(dir);
        EXPECT_TRUE(lock.Held());
        EXPECT_TRUE(fs::exists(dir + "zelm.lock"));
        const InstanceLock again(dir);
        EXPECT_FALSE(again.Held());
        // Another home folder runs side by side.
        const InstanceLock elsewhere(PrepareProgramDir(second.Dir()));
        EXPECT_TRUE(elsewhere.Held());
    }
    const InstanceLock afterwards(dir);
    EXPECT_TRUE(afterwards.Held());
}

TEST(InstanceLock, IsNotInheritedByAChildProcess) {
    test::TempHome folder;
    const std::string dir = PrepareProgramDir(folder.Dir());
    pid_t child = 0;
    {
        const InstanceLock lock(dir);
        ASSERT_TRUE(lock.Held());
        // A program started while the lock is held (an action's external program) must not
        // keep it after this copy has ended.
        char sleepName[] = "sleep";
        char seconds[] = "30";
        char* argv[] = {sleepName, seconds, nullptr};
        ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    }
    const InstanceLock next(dir);
    EXPECT_TRUE(next.Held());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(InstanceLock, ALockFileThatCannotBeMadeIsAnError) {
    test::TempHome folder;
    EXPECT_THROW(InstanceLock(folder.File("missing") + "/"), ZelmError);
}

} // namespace
} // namespace zelm
