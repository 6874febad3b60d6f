#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/engine_context.h"

// The "Run external program" action hands the retrieved message to a program the user chose.
// No shell is involved, so nothing in a program path or a message can inject a command.
namespace zelm {

/// Splits a program text into words at blanks and tabs; double quotes group and are removed.
std::vector<std::string> SplitProgramText(const std::string& text);

/// The program and its arguments for a program text: a text that names an existing file
/// (resolved from homeDir when relative) is the program as it stands, blanks included;
/// any other text is split by SplitProgramText. A program named without a "/" that is a file
/// in homeDir is run from there ("./" + name); other bare names are looked up in PATH.
std::vector<std::string> ProgramArguments(const std::string& text, const std::string& homeDir);

/// The argv an "Ext prog" action runs: ProgramArguments, then the full path of "zelm.dat".
std::vector<std::string> ExternalProgramArgv(EngineContext& context, const std::string& program);

/// The time limit of an external program: the settings-root value "ExtProgTimeout" in
/// seconds, 600 when absent, not a number or not positive.
std::chrono::seconds ExtProgTimeLimit(SettingsDb& db);

/// How a program that overran its time limit was ended.
enum class ChildStop { Terminated, Killed };

/// Starts one external program and waits for it, keeping the window alive while it runs.
/// The child gets its own process group, so a time-out ends the programs it started too,
/// and a Ctrl-C meant for the session does not cut the program short.
class TAppRunner {
public:
    /// The exit code reported while the child still runs.
    static constexpr int StillActive = 259;

    /// How often the wait wakes to pump the window, and how long a terminated child may
    /// take before it is killed.
    struct Timing {
        std::chrono::milliseconds pollInterval{90};
        std::chrono::milliseconds killGrace{5000};
    };

    TAppRunner();
    /// A runner with other wait timings (tests).
    explicit TAppRunner(Timing timing);
    /// Kills and reaps a child that is still running, so none outlives its runner.
    ~TAppRunner();
    TAppRunner(const TAppRunner&) = delete;
    TAppRunner& operator=(const TAppRunner&) = delete;

    /// Starts argv[0] (searched in PATH when it holds no '/') in workDir with the caller's
    /// environment and only the standard three descriptors; false with the reason in error.
    bool Execute(const std::vector<std::string>& argv, const std::string& workDir,
                 std::string& error);

    /// Waits until the child has ended, calling pump at least every poll interval. After
    /// timeLimit the child's group gets SIGTERM, killGrace later SIGKILL; onStop is told of
    /// each step.
    void WaitForExit(std::chrono::milliseconds timeLimit, const std::function<void()>& pump,
                     const std::function<void(ChildStop)>& onStop);

    /// The last started child has ended and been reaped.
    bool Finished() const { return m_finished; }
    /// The child's exit status, 128 + the signal when a signal ended it, StillActive before.
    int ExitCode() const { return m_exitCode; }

private:
    bool TryReap();
    void WaitSlice(std::chrono::milliseconds slice);
    void Discard();

    Timing m_timing;
    pid_t m_pid = -1;
    int m_pidFd = -1;
    bool m_finished = false;
    int m_exitCode = StillActive;
};

/// Runs the program text with the full path of "zelm.dat" as its last argument, in the home
/// folder, and waits for it. False (panel 3 "Error" and an error-log line) when it cannot
/// start; true once it has ended, also after a time-out.
bool RunExternalProgram(EngineContext& context, const std::string& program);

} // namespace zelm
