#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/engine_context.h"
#include "messages/cache_journal.h"
#include "messages/header_summary.h"
#include "session/mailbox_settings.h"
#include "session/message_cache.h"
#include "session/pending_deletions.h"

namespace zelm {

class Pop3Client;
class SmtpSender;
class TestRun;

/// The six counters of one mailbox's summary line, zeroed at the start of every mailbox.
struct MailboxCounters {
    std::int32_t tot = 0;
    std::int32_t newCount = 0;
    std::int32_t big = 0;
    std::int32_t acc = 0;
    std::int32_t rej = 0;
    std::int32_t flt = 0;
};

/// The one processing-session state: created by the application (or a test) next to the
/// context and the two connections, handed to every session operation. The mailbox fields are
/// reset per mailbox and the message fields per message by the session driver; screening,
/// filters and actions read and fill them while a message is processed.
class ProcessingSession {
public:
    /// The connections stay owned by the caller and outlive the session object.
    ProcessingSession(EngineContext& context, Pop3Client& pop3, SmtpSender& smtp);
    ~ProcessingSession();
    ProcessingSession(const ProcessingSession&) = delete;
    ProcessingSession& operator=(const ProcessingSession&) = delete;

    /// Home folder, store, window, logs and the session flags.
    EngineContext& context;
    /// The POP3 conversation: message total, size, unique id, header lines, body.
    Pop3Client& pop3;
    /// The SMTP sender with the current mailbox's host, port and sender address.
    SmtpSender& smtp;

    /// Copy of the mailbox names taken at the start of the run, in case-insensitive order.
    std::vector<std::string> mailboxNames;
    /// The current mailbox's settings, read afresh for every mailbox.
    MailboxSettings settings;
    /// Ids of messages already processed in the current mailbox.
    MessageCache cache;
    /// The current mailbox's journal: each id entering the Cache and each DELE, as they happen.
    JournalWriter journal;
    /// The current mailbox's deletions that no QUIT has committed yet.
    PendingDeletions deletions;
    /// The current mailbox's screening lists and custom reject reply template.
    std::vector<std::string> acceptList;
    std::vector<std::string> rejectList;
    std::vector<std::string> rejectText;
    /// The current mailbox's counters.
    MailboxCounters counters;
    /// The header field names rules can test, as the window holds them; taken per mailbox.
    HeaderFieldList headerFields;

    /// 1-based POP3 number of the message being processed (0 outside the message loop).
    int messageNumber = 0;
    /// The current filter's "TextVarNames", set when its actions start.
    std::vector<std::string> textVariableNames;

    /// Set for a test run: every decision is taken, nothing is changed, the decisions go into
    /// its report. Null for a real session.
    TestRun* testRun = nullptr;

    /// The current message's header summary, message variables and composed lists.
    MessageState& Message() { return m_message; }

private:
    MessageState m_message;
};

/// Retrieves the current message once (RETR) and appends the "Header" and "Body" values to the
/// message variables. False when it cannot be retrieved: nothing is added, nothing waits.
/// Callers call it only while the message is not yet retrieved. In a test run a message that
/// would already be deleted is refused, as the server refuses it after a DELE.
bool EnsureRetrieved(ProcessingSession& session);

/// The received message (the header lines read by TOP, then the retrieved body) read where it
/// lies, since a forwarded message may be large.
MessageLines ReceivedMessage(const ProcessingSession& session);

/// Hands one message to the SMTP sender; in a test run only its recipients are reported.
void SendMail(ProcessingSession& session, const std::vector<std::string>& recipients,
              MessageLines message);

/// DELE for the current message, entered in the mailbox's journal first, so that a session
/// killed before its QUIT still has the message deleted by the next one. True when the server
/// accepted it. A test run sends nothing: it reports the DELE and treats it as accepted.
bool DeleteCurrentMessage(ProcessingSession& session);

} // namespace zelm
