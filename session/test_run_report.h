#pragma once

#include <string>
#include <vector>

#include "session/test_run.h"

// The test run's report as a person reads it (lines of text, the deciding ones marked) and as
// a script reads it (JSON lines). Both are built from the same report, so they never differ.
namespace zelm {

/// One line of the text report.
struct ReportLine {
    /// Nesting depth: 0 for a mailbox, 1 for a message, 2 and more for what it holds.
    int depth = 0;
    std::string text;
    /// The list entry or rule line that decided the message.
    bool deciding = false;
};

/// The lines of one message's report.
std::vector<ReportLine> MessageReportLines(const MessageReport& message);
/// The lines heading a mailbox's report, before its messages.
std::vector<ReportLine> MailboxHeadLines(const MailboxReport& mailbox);
/// The lines ending a mailbox's report, after its messages.
std::vector<ReportLine> MailboxTailLines(const MailboxReport& mailbox);
/// The whole report.
std::vector<ReportLine> TestRunReportLines(const TestRunReport& report);

/// A report line as text: "=> " in front of a deciding line, three blanks otherwise, then two
/// blanks per depth.
std::string ReportLineText(const ReportLine& line);

/// One JSON object (one line, no line end) per message and one per mailbox after its
/// messages ("type" tells them apart). Bytes that are not UTF-8 are written as \u00XX.
std::string MessageJson(const MailboxReport& mailbox, const MessageReport& message);
std::string MailboxJson(const MailboxReport& mailbox);

} // namespace zelm
