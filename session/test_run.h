#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/engine_ui.h"
#include "session/filter_evaluation.h"

// A test run is a session that keeps every decision and changes nothing: no DELE, no SMTP
// connection, no external program, no file written in the home folder, no log line. Each
// place that would change something asks the session's TestRun first and records what it
// would have done instead; the rest of the session runs exactly as it always does.
namespace zelm {

/// One reject response or filter action as the test run resolved it.
struct ReportStep {
    /// The action line as stored, or the response ("Forward", "Return", "Delete").
    std::string line;
    /// False when the real session would not get to it (after a Stop).
    bool reached = true;
    /// What it would do, resolved: recipients, the file and the exact line appended, the
    /// program's argv, the extracted variables.
    std::vector<std::string> details;
};

/// One filter of the mailbox's "Operation" order for one message.
struct FilterReport {
    std::string name;
    /// False when the real session would not try it (after a Stop).
    bool reached = true;
    std::vector<RuleLineTrace> rules;
    bool matched = false;
    std::vector<ReportStep> actions;
    /// Its "Stop" ended the message's filtering.
    bool stops = false;
};

/// What the session decided for one message.
enum class MessageFate {
    /// The session would not get to it (a stop, a lost connection, the --limit).
    NotReached,
    /// Its id is in the Cache: processed in an earlier session, left alone.
    Cached,
    /// Deleted by an earlier session that was killed before its QUIT: deleted now.
    LeftOverDeletion,
    /// LIST was refused: left for the next session.
    SizeUnknown,
    /// Larger than the mailbox's size limit: passed over.
    TooBig,
    /// TOP was refused: left for the next session.
    HeaderUnread,
    Accepted,
    Rejected,
    /// Neither accepted nor rejected: the filters were tried.
    Filtered,
};

/// The report of one message.
struct MessageReport {
    int number = 0;
    std::string uid;
    std::string from;
    std::string subject;
    /// -1 while LIST has not given it.
    int size = -1;
    MessageFate fate = MessageFate::NotReached;
    /// Why a not-reached message was not reached.
    std::string notReachedReason;
    /// The Accept List entry that accepted it, as stored.
    std::string acceptEntry;
    /// The Reject List entry that rejected it and the originator value it matched.
    std::string rejectEntry;
    std::string originator;
    /// The reject responses that would run, in order.
    std::vector<ReportStep> responses;
    /// Every filter of "Operation", in order (empty unless the fate is Filtered).
    std::vector<FilterReport> filters;
    /// A DELE would be sent for it.
    bool deleted = false;
    /// The session-log texts (no timestamps) and error-log texts the real session would write
    /// for it, in order; error texts begin with "error: ".
    std::vector<std::string> log;
};

/// The report of one mailbox.
struct MailboxReport {
    std::string name;
    /// Why no message was looked at ("" when the mailbox was connected).
    std::string passedOver;
    /// Messages waiting in its outbox, which a session would send before the first message.
    std::size_t outboxWaiting = 0;
    std::vector<MessageReport> messages;
    /// Log texts outside any message (connection, summary, errors).
    std::vector<std::string> log;
    /// How many of them came before the first message.
    std::size_t logBeforeMessages = 0;
};

/// The whole report, filled as the session decides.
struct TestRunReport {
    std::vector<MailboxReport> mailboxes;
    /// The run was stopped before its end.
    bool stopped = false;
    /// Log texts outside any mailbox ("Session Start", errors that ended the run early).
    std::vector<std::string> log;
};

/// What a test run covers.
struct TestRunOptions {
    /// Only this mailbox (compared without regard to case); "" for every mailbox.
    std::string mailbox;
    /// At most this many messages of each mailbox; 0 or less for all.
    int limit = 0;
};

/// The switch of a session that changes nothing, and the report it fills.
class TestRun {
public:
    explicit TestRun(TestRunOptions runOptions = {}) : options(std::move(runOptions)) {}

    TestRunOptions options;
    TestRunReport report;
    /// Called when a message's report is complete (the window shows the report as it grows).
    std::function<void(const MailboxReport&, const MessageReport&)> messageDone;

    /// The mailbox and message being reported (the last ones begun).
    void BeginMailbox(const std::string& name);
    MailboxReport& Mailbox();
    /// After the mailbox's last line: later lines belong to the run.
    void EndMailbox();
    void BeginMessage(int number);
    /// The message being reported, or nullptr between messages.
    MessageReport* Message();
    void EndMessage();
    /// Adds the messages from..to as not reached, for the given reason.
    void NotReached(int from, int to, const std::string& reason);

    /// The step (response or action) now resolved, or nullptr when none runs.
    ReportStep* Step() { return m_step; }
    /// Starts a reject response or, inside a filter, an action; later details go to it.
    ReportStep& BeginResponse(const std::string& what);
    FilterReport& BeginFilter(const std::string& name);
    FilterReport* Filter();
    ReportStep& BeginAction(const std::string& line);
    void EndStep() { m_step = nullptr; }
    /// Adds a detail to the current step (ignored when no step runs).
    void Detail(const std::string& text);

    /// A log line the real session would write, kept with the message (or mailbox).
    void Logged(LogKind kind, const std::string& text);

private:
    bool m_inMailbox = false;
    bool m_inMessage = false;
    bool m_inFilter = false;
    ReportStep* m_step = nullptr;
};

/// The fate's words in the report ("cached", "too big", ...).
const char* FateName(MessageFate fate);

} // namespace zelm
