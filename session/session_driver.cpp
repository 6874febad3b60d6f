#include "session/session_driver.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

#include "core/name_rules.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "messages/cache_journal.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/outbox.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/actions.h"
#include "session/fast_listing.h"
#include "session/filter_evaluation.h"
#include "session/screening.h"
#include "session/test_run.h"

namespace zelm {
namespace {

std::string ErrorText(const std::exception& error) {
    return error.what();
}

// While a run lasts the POP3 client parses headers into this session's state; the caller's
// parser (the interactive browser's) comes back afterwards, so no hook outlives its session.
class HeaderParserScope {
public:
    explicit HeaderParserScope(ProcessingSession& session)
        : m_pop3(session.pop3), m_saved(std::move(session.pop3.headerParser)) {
        m_pop3.headerParser = [&session](const std::vector<std::string>& headerLines) {
            return ParseHeaders(headerLines, session.headerFields, session.pop3.messageSize,
                                session.Message());
        };
    }
    ~HeaderParserScope() { m_pop3.headerParser = std::move(m_saved); }
    HeaderParserScope(const HeaderParserScope&) = delete;
    HeaderParserScope& operator=(const HeaderParserScope&) = delete;

private:
    Pop3Client& m_pop3;
    HeaderParser m_saved;
};

// For a test run: the log's lines go into the report, and RETR leaves "zelm.dat" alone; both
// come back when the run ends, however it ends.
class TestRunScope {
public:
    explicit TestRunScope(ProcessingSession& session) : m_session(session) {
        TestRun* run = session.testRun;
        if (!run) return;
        session.context.log.SetDivert(
            [run](LogKind kind, const std::string& text) { run->Logged(kind, text); });
        m_savedWriteMessageFile = session.pop3.writeMessageFile;
        session.pop3.writeMessageFile = false;
    }
    ~TestRunScope() {
        if (!m_session.testRun) return;
        m_session.context.log.SetDivert({});
        m_session.pop3.writeMessageFile = m_savedWriteMessageFile;
    }
    TestRunScope(const TestRunScope&) = delete;
    TestRunScope& operator=(const TestRunScope&) = delete;

private:
    ProcessingSession& m_session;
    bool m_savedWriteMessageFile = true;
};

void NoteFate(ProcessingSession& session, MessageFate fate) {
    if (session.testRun && session.testRun->Message()) session.testRun->Message()->fate = fate;
}

// The message's report gets what the session learnt of it, then is complete.
void EndMessageReport(ProcessingSession& session) {
    TestRun* run = session.testRun;
    if (!run || !run->Message()) return;
    MessageReport& report = *run->Message();
    report.uid = session.pop3.messageUid;
    switch (report.fate) {
    case MessageFate::TooBig:
    case MessageFate::HeaderUnread:
    case MessageFate::Accepted:
    case MessageFate::Rejected:
    case MessageFate::Filtered:
        report.size = session.pop3.messageSize;
        break;
    default:
        // LIST was not asked (or refused): the client still holds another message's size.
        break;
    }
    report.from = session.Message().headerSummary.from;
    report.subject = session.Message().headerSummary.subject;
    run->EndMessage();
}

std::string SummaryLine(const std::string& mailbox, const MailboxCounters& counters) {
    return "Summary(" + mailbox + "): Tot:" + std::to_string(counters.tot) +
           " New:" + std::to_string(counters.newCount) + " Big:" + std::to_string(counters.big) +
           " Acc:" + std::to_string(counters.acc) + " Rej:" + std::to_string(counters.rej) +
           " Flt:" + std::to_string(counters.flt);
}

// M1: the mailbox's lists and counters start empty, and it counts as not enabled until its
// settings say otherwise.
void StartMailbox(ProcessingSession& session, const std::string& mailbox) {
    session.cache.Clear();
    session.journal.Stop();
    session.deletions.Clear();
    session.acceptList.clear();
    session.rejectList.clear();
    session.rejectText.clear();
    session.Message() = MessageState{};
    session.counters = MailboxCounters{};
    session.settings = MailboxSettings{};
    session.messageNumber = 0;
    session.context.currentMailbox = mailbox;
    if (session.testRun) session.testRun->BeginMailbox(mailbox);
}

// P2: nothing of the previous message may be seen by this one.
void StartMessage(ProcessingSession& session, int number) {
    Pop3Client& pop3 = session.pop3;
    pop3.ClearHeaderLines();
    pop3.messageBody.clear();
    pop3.messageRetrieved = false;
    session.Message().headerSummary.Clear();
    session.Message().messageVariables.ClearValues();
    session.Message().recipientList.clear();
    ++session.counters.tot;
    session.messageNumber = number;
    if (session.testRun) session.testRun->BeginMessage(number);
}

// The mailbox's filter order as stored. Read again only when the store has changed since the
// last read: an edit made in the window during the session reaches the next message, while
// a mailbox of thousands of messages does not pay a store read for each.
class FilterOrder {
public:
    FilterOrder(SettingsDb& db, ConfigStore& mailboxKey) : m_db(db), m_key(mailboxKey) {}

    const std::string& Names() {
        const std::int64_t changes = m_db.ChangeCount();
        if (!m_read || changes != m_changes) {
            m_names = m_key.HasOpenKey() ? m_key.ReadString(schema::Operation) : std::string();
            m_changes = changes;
            m_read = true;
        }
        return m_names;
    }

private:
    SettingsDb& m_db;
    ConfigStore& m_key;
    std::string m_names;
    std::int64_t m_changes = 0;
    bool m_read = false;
};

// P10: the filters named in "Operation", in stored order.
void ApplyFilters(ProcessingSession& session, FilterOrder& filterOrder) {
    EngineContext& context = session.context;
    const std::string operation = filterOrder.Names();
    const HeaderSummary& summary = session.Message().headerSummary;
    const FilterMessage message{summary.fields, summary.values, session.pop3.messageSize};
    const auto filterNames = SplitListValue(operation);
    TestRun* run = session.testRun;
    for (std::size_t i = 0; i < filterNames.size(); ++i) {
        const std::string& filterName = filterNames[i];
        FilterReport* report = run ? &run->BeginFilter(filterName) : nullptr;
        if (filterName.empty() ||
            !EvaluateFilter(context.settings, context.currentMailbox, filterName, message,
                            report ? &report->rules : nullptr)) {
            continue;
        }
        ++session.counters.flt;
        if (report) report->matched = true;
        if (ExecuteFilterActions(session, filterName) == ActionOutcome::Stop) {
            // The filters after a Stop are not tried: the report says so, in their order.
            for (std::size_t j = i + 1; run && j < filterNames.size(); ++j)
                run->BeginFilter(filterNames[j]).reached = false;
            break;
        }
    }
}

// The server or the network went away in the middle of a message: the message is not
// cached (it is tried again next session) and the loop ends.
bool ConnectionLost(ProcessingSession& session, int number) {
    session.context.log.WriteErrorLine("Pop3: connection to " + session.context.currentMailbox +
                                       " lost at message " + std::to_string(number));
    if (session.testRun && session.testRun->Message()) {
        session.testRun->Message()->notReachedReason = "the connection was lost";
        EndMessageReport(session);
    }
    return false;
}

// A message whose DELE an interrupted session sent was dealt with then: it is only deleted
// now, with its header read for the log.
void DeleteLeftOver(ProcessingSession& session, int number) {
    Pop3Client& pop3 = session.pop3;
    if (Pop3Top(pop3, number)) {
        const HeaderSummary& summary = session.Message().headerSummary;
        session.context.log.WriteSessionLine(" Msg: " + summary.from + "(" + summary.subject + ")");
    }
    if (!pop3.connection.Active()) return;
    if (session.testRun) {
        session.testRun->BeginResponse("Delete (left from an interrupted session)");
        DeleteCurrentMessage(session);
        session.testRun->EndStep();
        session.context.log.WriteSessionLine(" - deleted (left from an interrupted session)");
    } else if (Pop3Dele(pop3, number)) {
        session.deletions.Accepted(pop3.messageUid);
        session.context.log.WriteSessionLine(" - deleted (left from an interrupted session)");
    }
}

// Whether message n will need its header read, as far as the listing tells ahead of its turn.
bool WillNeedHeader(const ProcessingSession& session, const FastListing& listing, int n) {
    const auto uid = listing.Uid(n);
    const auto size = listing.Size(n);
    if (!uid || !size) return false;
    if (session.cache.Contains(*uid) || session.deletions.IsLeftOver(*uid)) return false;
    return !(session.settings.limitMessageSizeEnabled && *size > session.settings.limitSize);
}

// P7: TOP n 0, or its reply read ahead by the fast listing.
bool ReadHeader(ProcessingSession& session, FastListing& listing, int number) {
    const auto reply = listing.HeaderReply(
        session.pop3, number, [&](int next) { return WillNeedHeader(session, listing, next); });
    return reply ? Pop3TopReply(session.pop3, number, *reply) : Pop3Top(session.pop3, number);
}

// P1 to P11 for message n. False when the message loop has to end (abort requested, or the
// connection is gone). idSeen tells whether the server gave the message's unique id.
bool ProcessMessage(ProcessingSession& session, FilterOrder& filterOrder, FastListing& listing,
                    int number, bool& idSeen) {
    EngineContext& context = session.context;
    Pop3Client& pop3 = session.pop3;
    idSeen = false;
    if (!pop3.connection.Active()) {
        // Where the per-message dialogue learns of the loss from this message's UIDL, the
        // message counts as begun there too.
        if (listing.LossUnnoticed(pop3.connection)) StartMessage(session, number);
        return ConnectionLost(session, number);
    }

    // P1
    session.smtp.attemptNumber = 1;
    context.ui.SetAbortButton((number / 10) % 2 == 1 ? kAbortCaptionInProgress : kAbortCaptionPress,
                              AbortButtonColour::Red, true);
    // P2, P3
    StartMessage(session, number);
    if (const auto listed = listing.Uid(number)) {
        pop3.messageUid = *listed;
    } else {
        Pop3Uidl(pop3, number);
    }
    if (!pop3.connection.Active()) {
        return ConnectionLost(session, number);
    }
    const std::string uniqueId = pop3.messageUid;
    idSeen = !uniqueId.empty();

    // A message enters the Cache only when it was really looked at: one whose size or header
    // could not be read is left for the next session, never judged by another message's values.
    bool lookedAt = true;
    if (idSeen && session.deletions.TakeLeftOver(uniqueId)) {
        if (!session.cache.Contains(uniqueId)) ++session.counters.newCount;
        NoteFate(session, MessageFate::LeftOverDeletion);
        DeleteLeftOver(session, number);
    } else if (uniqueId.empty() || !session.cache.Contains(uniqueId)) { // P4
        ++session.counters.newCount;                                    // P5
        const auto listedSize = listing.Size(number);
        if (listedSize) pop3.messageSize = *listedSize;
        if (!listedSize && !Pop3List(pop3, number)) {
            if (!pop3.connection.Active()) {
                return ConnectionLost(session, number);
            }
            context.log.WriteSessionLine(" Msg: size not known (LIST refused), left for the "
                                         "next session");
            NoteFate(session, MessageFate::SizeUnknown);
            lookedAt = false;
        } else if (session.settings.limitMessageSizeEnabled &&
                   pop3.messageSize > session.settings.limitSize) { // P6
            ++session.counters.big;
            NoteFate(session, MessageFate::TooBig);
            context.log.WriteSessionLine(" Msg: exceeds size limit (" +
                                         std::to_string(pop3.messageSize) + " bytes)");
        } else if (!ReadHeader(session, listing, number)) { // P7
            if (!pop3.connection.Active()) {
                return ConnectionLost(session, number);
            }
            context.log.WriteSessionLine(" Msg: header not read (TOP refused), left for the "
                                         "next session");
            NoteFate(session, MessageFate::HeaderUnread);
            lookedAt = false;
        } else {
            const HeaderSummary& summary = session.Message().headerSummary; // P8
            context.log.WriteSessionLine(" Msg: " + summary.from + "(" + summary.subject + ")");
            switch (ScreenMessage(session)) { // P9
            case ScreenResult::Accepted:
                ++session.counters.acc;
                NoteFate(session, MessageFate::Accepted);
                break;
            case ScreenResult::Rejected:
                ++session.counters.rej;
                NoteFate(session, MessageFate::Rejected);
                break;
            case ScreenResult::Neither:
                NoteFate(session, MessageFate::Filtered);
                ApplyFilters(session, filterOrder); // P10
                break;
            }
        }
    } else {
        NoteFate(session, MessageFate::Cached);
    }

    // P11
    context.ui.PumpEvents();
    if (lookedAt && !uniqueId.empty() && !session.cache.Contains(uniqueId)) {
        session.cache.Append(uniqueId);
        // Durable before the next message starts: a session killed from here on does not
        // process this message again.
        session.journal.RecordCached(uniqueId);
    }
    EndMessageReport(session);
    pop3.headerLines.clear();
    pop3.messageBody.clear();
    return !context.abortRequested;
}

// M6: log in, send the waiting mail, take up every message. True when the loop reached the
// last message and learnt every message's unique id: then an id that did not show up is no
// longer on the server.
bool ProcessMailbox(ProcessingSession& session) {
    EngineContext& context = session.context;
    Pop3Client& pop3 = session.pop3;
    const MailboxSettings& settings = session.settings;

    pop3.connection.SetEndpoint(settings.host);
    pop3.connection.SetPort(settings.port);
    pop3.security = settings.pop3Security;
    pop3.certFingerprint = settings.pop3CertFingerprint;
    SmtpSender& smtp = session.smtp;
    smtp.host = settings.smtpHost;
    smtp.port = settings.smtpPort;
    smtp.senderAddress = settings.smtpFrom;
    smtp.security = settings.smtpSecurity;
    smtp.certFingerprint = settings.smtpCertFingerprint;
    smtp.authEnabled = settings.smtpAuth;
    smtp.authUserId = settings.smtpUserId;
    smtp.authPassword = settings.smtpPassword;
    smtp.plainAuthOnLoopback = settings.smtpPlainAuthLoopback;
    smtp.attemptNumber = 1;
    // Never the previous mailbox's total, whatever STAT does.
    pop3.messageTotal = 0;

    if (!Pop3Open(pop3, settings.userId, settings.password)) {
        return false;
    }
    if (!pop3.connection.Active()) {
        context.log.WriteSessionLine("Failed connection to " + context.currentMailbox);
        return false;
    }
    context.log.WriteSessionLine("Connected to " + context.currentMailbox);
    if (TestRun* run = session.testRun) {
        run->Mailbox().outboxWaiting =
            ListOutboxFiles(OutboxFolder(context.programDir, context.currentMailbox)).size();
    } else {
        SendPendingMail(smtp);
    }
    ConfigStore mailboxKey(context.settings);
    mailboxKey.OpenKey(MailboxKeyPath(context.currentMailbox), false);
    FilterOrder filterOrder(context.settings, mailboxKey);
    FastListing listing;
    if (FastListing::Enabled(context.settings)) listing.Start(pop3);
    const int total = pop3.messageTotal;
    // A total of 0 may also be a STAT that failed: it proves nothing about the ids.
    bool everyIdSeen = total > 0;
    TestRun* run = session.testRun;
    const int last = run && run->options.limit > 0 ? std::min(total, run->options.limit) : total;
    for (int number = 1; number <= last; ++number) {
        bool idSeen = false;
        const bool goOn = ProcessMessage(session, filterOrder, listing, number, idSeen);
        everyIdSeen = everyIdSeen && idSeen && (goOn || number == total);
        if (!goOn) {
            if (run && number < total) {
                run->NotReached(number + 1, total,
                                context.abortRequested ? "the run was stopped"
                                                       : "the connection was lost");
            }
            return everyIdSeen;
        }
    }
    if (run && last < total) {
        run->NotReached(last + 1, total, "beyond --limit " + std::to_string(last));
    }
    return everyIdSeen;
}

// M7: QUIT commits the deletions; the summary line; the Cache back to the data file, and the
// journal down to the deletions no QUIT has committed.
void FinishMailbox(ProcessingSession& session, const std::string& dataFile, bool cacheKnown,
                   bool everyIdSeen) {
    EngineContext& context = session.context;
    Pop3Client& pop3 = session.pop3;
    context.ui.PumpEvents();
    bool committed = false;
    if (pop3.connection.Active()) {
        try {
            committed = Pop3Quit(pop3);
        } catch (const SocketError& error) {
            // The server went away under the QUIT: nothing left to commit, and the next
            // mailbox must still be visited.
            context.log.WriteErrorLine("Pop3 QUIT: " + ErrorText(error));
            pop3.connection.Close();
        }
    }
    if (session.settings.mailboxEnabled) {
        context.log.WriteSessionLine(SummaryLine(context.currentMailbox, session.counters));
    }
    session.journal.Stop();
    // Without the stored Cache or the limit, writing back would drop ids the file holds; the
    // journal then keeps what it holds too. A test run writes nothing.
    if (cacheKnown && !session.testRun) {
        session.cache.Trim(session.settings.cacheLimit);
        WriteSection(dataFile, kSectionCache, session.cache.Lines());
        // Only once the Cache holds its ids: a crash in between merely merges them twice.
        RewriteJournal(JournalFilePath(context.programDir, context.currentMailbox),
                       session.deletions.Remaining(committed, everyIdSeen));
    }
    session.cache.Clear();
    session.deletions.Clear();
    session.acceptList.clear();
    session.rejectList.clear();
    session.rejectText.clear();
    session.messageNumber = 0;
}

// M2: the lists from the data file. Ids and deletions that a killed session left in the
// journal join them, and the ids go into the data file at once, so the journal holds only the
// deletions from then on and takes this session's records after whole lines.
void LoadMailboxFiles(ProcessingSession& session, const std::string& dataFile) {
    EngineContext& context = session.context;
    session.cache.Assign(ReadSectionLines(dataFile, kSectionCache));
    session.acceptList = ReadSectionLines(dataFile, kSectionAcceptList);
    session.rejectList = ReadSectionLines(dataFile, kSectionRejectList);
    session.rejectText = ReadSectionLines(dataFile, kSectionRejectText);

    const std::string journalFile = JournalFilePath(context.programDir, context.currentMailbox);
    if (const auto left = ReadJournal(journalFile)) {
        if (left->damagedLines > 0) {
            context.log.WriteErrorLine(
                "Mailbox " + context.currentMailbox + ": " + std::to_string(left->damagedLines) +
                (left->damagedLines == 1 ? " damaged line" : " damaged lines") +
                " of the journal " + journalFile + " left out");
        }
        for (const std::string& id : left->cached) {
            if (!session.cache.Contains(id)) session.cache.Append(id);
        }
        session.deletions.Assign(left->deleted);
        if (session.testRun) return;
        WriteSection(dataFile, kSectionCache, session.cache.Lines());
        RewriteJournal(journalFile, left->deleted);
    }
    // A test run keeps its Cache in memory only.
    if (!session.testRun) session.journal.Start(journalFile);
}

// Whether a mailbox whose settings could not all be read is enabled: its summary line depends
// on that flag alone. Not known counts as not enabled.
bool EnabledDespiteSettingsError(SettingsDb& db, const std::string& mailbox) {
    try {
        ConfigStore key(db);
        if (!key.OpenKey(MailboxKeyPath(mailbox), false)) return false;
        return key.ValueExists(schema::MailboxEnabled) ? key.ReadBool(schema::MailboxEnabled)
                                                       : schema::SessionMailboxEnabled;
    } catch (const std::exception&) {
        return false;
    }
}

void LogMailboxError(EngineContext& context, const std::string& mailbox,
                     const std::exception& error) {
    context.log.WriteErrorLine("Mailbox " + mailbox + ": " + ErrorText(error));
}

// M1 to M7 for one mailbox. An error inside the mailbox ends it through M7 with the cause in
// the error log; only an error of M7 itself goes up and ends the run.
void VisitMailbox(ProcessingSession& session, const std::string& mailbox) {
    EngineContext& context = session.context;
    const std::string problem = MailboxNameProblem(mailbox);
    if (!problem.empty()) {
        // Such a name could address a file outside the mailbox's own: touch nothing of it.
        context.log.WriteErrorLine("Mailbox " + mailbox + " passed over: " + problem);
        return;
    }

    StartMailbox(session, mailbox); // M1
    const std::string dataFile = DataFilePath(context.programDir, mailbox);
    bool filesRead = false;
    try {
        LoadMailboxFiles(session, dataFile); // M2
        filesRead = true;
    } catch (const std::exception& error) {
        LogMailboxError(context, mailbox, error);
    }
    // M3, also when the files failed: an enabled mailbox always gets its summary line.
    bool settingsRead = false;
    try {
        session.settings = ReadMailboxSettings(context.settings, mailbox);
        settingsRead = true;
    } catch (const std::exception& error) {
        LogMailboxError(context, mailbox, error);
        session.settings.mailboxEnabled = EnabledDespiteSettingsError(context.settings, mailbox);
    }
    const bool cacheKnown = filesRead && settingsRead;
    bool everyIdSeen = false;
    if (cacheKnown) {
        try {
            session.cache.Trim(session.settings.cacheLimit); // M4
            // M5
            const MailboxSettings& settings = session.settings;
            if (settings.mailboxEnabled && !settings.host.empty() && !settings.userId.empty() &&
                settings.port != 0) {
                session.headerFields = context.ui.HeaderFieldNames();
                everyIdSeen = ProcessMailbox(session);
            } else if (session.testRun) {
                session.testRun->Mailbox().passedOver =
                    !settings.mailboxEnabled ? "not enabled"
                                             : "no POP3 host, user id or port: not visited";
            }
        } catch (const std::exception& error) {
            LogMailboxError(context, mailbox, error);
        }
    }
    FinishMailbox(session, dataFile, cacheKnown, everyIdSeen); // M7
}

// E1 to E5: whatever happened, the run ends here and leaves nothing set.
void EndSession(ProcessingSession& session) {
    EngineContext& context = session.context;
    context.abortRequested = false;
    context.connectionInUse = false;
    context.ui.SetAbortButton(kAbortCaptionIdle, AbortButtonColour::Green, false);
    try {
        context.log.WriteSessionLine("Session End");
    } catch (const std::exception&) {
        // The log is failing; closing it below is all that is left to do.
    }
    context.log.CloseSessionLogs();
    context.ui.RestartSessionTimer();
    context.ui.SetTrayAnimation(false);
}

} // namespace

std::vector<std::string> SortedMailboxNames(SettingsDb& db) {
    std::vector<std::string> names;
    ConfigStore key(db);
    if (key.OpenKey(std::string(SettingsRoot) + "\\" + schema::MailboxesKey, false)) {
        key.GetKeyNames(names);
        key.CloseKey();
    }
    std::stable_sort(names.begin(), names.end(), LessNoCase);
    return names;
}

SessionOutcome RunTestRun(ProcessingSession& session, TestRun& run) {
    TestRun* const saved = session.testRun;
    session.testRun = &run;
    try {
        const SessionOutcome outcome = RunSession(session);
        session.testRun = saved;
        return outcome;
    } catch (...) {
        session.testRun = saved;
        throw;
    }
}

void AbortSession(EngineContext& context) {
    context.ui.SetAbortButton(kAbortCaptionAborting, AbortButtonColour::Red, true);
    context.abortRequested = true;
}

SessionOutcome RunSession(ProcessingSession& session) {
    EngineContext& context = session.context;
    if (context.connectionInUse) { // S1
        return SessionOutcome::Busy;
    }
    context.ui.StopSessionTimer(); // S2
    const TestRunScope testRunScope(session);
    try {
        // A test run writes no log: its lines go into the report.
        if (!session.testRun) context.log.OpenSessionLogs(); // S3
    } catch (const std::exception& error) {
        // Nothing is set yet; the timer goes on so a later tick can try again.
        context.ui.RestartSessionTimer();
        context.ui.ShowMessage("The session could not start: " + ErrorText(error));
        return SessionOutcome::NotStarted;
    }

    const std::string shownMailbox = context.currentMailbox;
    std::string failure;
    context.ui.SetTrayAnimation(true); // S4
    try {
        context.log.WriteSessionLine("Session Start"); // S5
        context.connectionInUse = true;                // S6
        context.ui.SetAbortButton(kAbortCaptionIdle, AbortButtonColour::Red, true);
        const HeaderParserScope parserScope(session);
        session.mailboxNames = SortedMailboxNames(context.settings); // S7
        for (const std::string& mailbox : session.mailboxNames) {
            if (session.testRun && !session.testRun->options.mailbox.empty() &&
                !EqualsNoCase(mailbox, session.testRun->options.mailbox)) {
                continue;
            }
            VisitMailbox(session, mailbox);
            if (session.testRun) session.testRun->EndMailbox();
            if (context.abortRequested) { // M8
                if (session.testRun) session.testRun->report.stopped = true;
                break;
            }
        }
    } catch (const std::exception& error) {
        failure = ErrorText(error);
    } catch (...) {
        failure = "unknown error";
    }
    if (!failure.empty()) {
        try {
            context.log.WriteErrorLine("Session ended early: " + failure);
        } catch (const std::exception&) {
            // The error log itself is failing; the message below still tells the user.
        }
    }
    session.mailboxNames.clear();
    context.currentMailbox = shownMailbox;
    EndSession(session);
    if (!failure.empty()) {
        context.ui.ShowMessage("The session ended early: " + failure);
        return SessionOutcome::EndedByError;
    }
    return SessionOutcome::Ran;
}

} // namespace zelm
