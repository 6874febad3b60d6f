#include "app/session_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "app/terminal_ui.h"
#include "app/usage.h"
#include "core/config_store.h"
#include "core/engine_context.h"
#include "core/home_folder.h"
#include "core/program_info.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session.h"
#include "session/session_driver.h"
#include "session/test_run.h"
#include "session/test_run_report.h"

namespace zelm {
namespace {

// A signal handler can only reach static storage. It raises the flag, which the session's
// pumps test without a system call, and writes one byte into the pipe, which wakes the wait
// between sessions at once.
int g_signalPipeWrite = -1;
volatile std::sig_atomic_t g_signalled = 0;

extern "C" void OnStopSignal(int) {
    const int savedErrno = errno;
    g_signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipeWrite, &byte, 1);
    errno = savedErrno;
}

/// SIGINT and SIGTERM turned into bytes on a pipe, and SIGPIPE ignored, for as long as the
/// object lives; the previous handlers come back afterwards.
class StopSignals {
public:
    StopSignals() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw ZelmError("Cannot watch for signals: pipe failed");
        }
        m_read = fds[0];
        m_write = fds[1];
        g_signalPipeWrite = m_write;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        // A reader of --verbose that goes away (a pipe into head) must not kill the session
        // half-way through a mailbox, before its Cache is saved: the echo just stops.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &m_oldPipe);
    }
    ~StopSignals() {
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::sigaction(SIGPIPE, &m_oldPipe, nullptr);
        g_signalPipeWrite = -1;
        g_signalled = 0;
        ::close(m_read);
        ::close(m_write);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// A signal arrived since the last call (drains the pipe).
    bool Take() {
        if (!g_signalled) {
            return false;
        }
        g_signalled = 0;
        char buffer[64];
        while (::read(m_read, buffer, sizeof buffer) > 0) {
        }
        return true;
    }

    /// Waits until the deadline or a signal; true when a signal came.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            if (Take()) {
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd watch{m_read, POLLIN, 0};
            // Cut into slices so the int time-out of poll never overflows.
            const int sliceMs = static_cast<int>(std::min<long long>(left.count(), 3600000));
            ::poll(&watch, 1, sliceMs);
        }
    }

private:
    int m_read = -1;
    int m_write = -1;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldPipe {};
};

int UsageFailure(std::ostream& err, const std::string& message) {
    err << ProgramName << ": " << message << '\n' << UsageHint();
    return 2;
}

struct SessionOptions {
    bool verbose = false;
    bool repeat = false;
    int repeatSeconds = 0;
    bool dryRun = false;
    bool json = false;
    bool mailboxGiven = false;
    bool limitGiven = false;
    TestRunOptions testRun;
};

void PrintReport(const TestRunReport& report, bool json, std::ostream& out) {
    if (!json) {
        for (const auto& line : TestRunReportLines(report))
            out << ReportLineText(line) << '\n';
        return;
    }
    for (const auto& mailbox : report.mailboxes) {
        for (const auto& message : mailbox.messages)
            out << MessageJson(mailbox, message) << '\n';
        out << MailboxJson(mailbox) << '\n';
    }
}

// `session --dry-run`: the session's decisions over the live mailboxes, changing nothing.
// It takes no lock, since it writes nothing, and so may run beside the window.
int RunDryRun(const std::string& programDir, const SessionOptions& options, std::ostream& out,
              std::ostream& err) {
    SettingsDb db(programDir + SettingsFileName);
    TerminalUi ui(db, out, err, false);
    EngineContext context(programDir, db, ui);
    Pop3Client pop3(context);
    SmtpSender smtp(context);
    ProcessingSession session(context, pop3, smtp);
    TestRun run(options.testRun);

    StopSignals signals;
    ui.SetPumpHook([&] {
        if (signals.Take() && context.connectionInUse) AbortSession(context);
    });
    const SessionOutcome outcome = RunTestRun(session, run);
    if (outcome != SessionOutcome::Ran && outcome != SessionOutcome::EndedByError) return 1;
    if (!options.testRun.mailbox.empty() && run.report.mailboxes.empty()) {
        err << ProgramName << ": session: no mailbox named '" << options.testRun.mailbox << "'\n";
        return 1;
    }
    PrintReport(run.report, options.json, out);
    out.flush();
    return outcome == SessionOutcome::Ran ? 0 : 1;
}

} // namespace

int RunSessionCommand(const std::string& programDir, const std::vector<std::string>& args,
                      std::ostream& out, std::ostream& err) {
    SessionOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--verbose") {
            options.verbose = true;
        } else if (args[i] == "--repeat") {
            if (i + 1 >= args.size()) {
                return UsageFailure(err, "session: --repeat needs a number of seconds");
            }
            options.repeatSeconds = TextToIntDef(args[++i], -1);
            if (options.repeatSeconds < 1) {
                return UsageFailure(err, "session: --repeat needs a whole number of seconds "
                                         "from 1, not '" +
                                             args[i] + "'");
            }
            options.repeat = true;
        } else if (args[i] == "--dry-run") {
            options.dryRun = true;
        } else if (args[i] == "--json") {
            options.json = true;
        } else if (args[i] == "--mailbox") {
            if (i + 1 >= args.size()) {
                return UsageFailure(err, "session: --mailbox needs a mailbox name");
            }
            options.testRun.mailbox = args[++i];
            options.mailboxGiven = true;
        } else if (args[i] == "--limit") {
            if (i + 1 >= args.size()) {
                return UsageFailure(err, "session: --limit needs a number of messages");
            }
            options.testRun.limit = TextToIntDef(args[++i], -1);
            if (options.testRun.limit < 1) {
                return UsageFailure(err, "session: --limit needs a whole number of messages "
                                         "from 1, not '" +
                                             args[i] + "'");
            }
            options.limitGiven = true;
        } else {
            return UsageFailure(err, "session: unknown argument '" + args[i] + "'");
        }
    }

    if (options.dryRun) {
        if (options.repeat || options.verbose) {
            return UsageFailure(err, "session: --dry-run takes neither --repeat nor --verbose");
        }
        if (options.mailboxGiven && options.testRun.mailbox.empty()) {
            return UsageFailure(err, "session: --mailbox needs a mailbox name");
        }
        return RunDryRun(programDir, options, out, err);
    }
    if (options.json || options.mailboxGiven || options.limitGiven) {
        return UsageFailure(err, "session: --json, --mailbox and --limit need --dry-run");
    }

    const InstanceLock lock(programDir);
    if (!lock.Held()) {
        err << AlreadyRunningText() << '\n';
        return 1;
    }
    SettingsDb db(programDir + SettingsFileName);
    TerminalUi ui(db, out, err, options.verbose);
    EngineContext context(programDir, db, ui);
    Pop3Client pop3(context);
    SmtpSender smtp(context);
    ProcessingSession session(context, pop3, smtp);

    StopSignals signals;
    bool stopRequested = false;
    // The abort button of a terminal: a signal during a session ends it after the message.
    ui.SetPumpHook([&] {
        if (signals.Take()) {
            stopRequested = true;
            if (context.connectionInUse) {
                AbortSession(context);
            }
        }
    });

    for (;;) {
        const SessionOutcome outcome = RunSession(session);
        // The reason was shown on err; a run cut short by an error fails the command too.
        if (outcome != SessionOutcome::Ran) {
            return 1;
        }
        if (!options.repeat || stopRequested || signals.Take()) {
            return 0;
        }
        const auto next =
            std::chrono::steady_clock::now() + std::chrono::seconds(options.repeatSeconds);
        if (signals.WaitUntil(next)) {
            return 0;
        }
    }
}

} // namespace zelm
