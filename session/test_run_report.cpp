#include "session/test_run_report.h"

#include <cstdio>

namespace zelm {
namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

const char* YesNo(bool value) {
    return value ? "true" : "false";
}

void AddStep(std::vector<ReportLine>& lines, int depth, const ReportStep& step,
             const char* notReached) {
    if (!step.reached) {
        lines.push_back({depth, Quoted(step.line) + ": not reached (" + notReached + ")"});
        return;
    }
    lines.push_back({depth, Quoted(step.line)});
    for (const auto& detail : step.details)
        lines.push_back({depth + 1, detail});
}

std::string RuleText(std::size_t index, const RuleLineTrace& rule) {
    std::string text = "rule " + std::to_string(index + 1) + " " + Quoted(rule.line) + ": ";
    switch (rule.kind) {
    case RuleLineTrace::Kind::Blank:
        return text + "blank, skipped; result " + YesNo(rule.running);
    case RuleLineTrace::Kind::NoEffect:
        return text + "connector \"" + rule.connector + "\" is neither AND nor OR: no effect; " +
               "result " + YesNo(rule.running);
    case RuleLineTrace::Kind::Condition:
        break;
    }
    text += rule.connector.empty() ? "OR" : rule.connector;
    text += rule.knownField ? "" : " (names no field of the header field list)";
    text += std::string(" ") + YesNo(rule.own);
    text += rule.evaluated ? "" : " (not evaluated: already decided)";
    return text + "; result " + YesNo(rule.running);
}

void AddFilter(std::vector<ReportLine>& lines, const FilterReport& filter) {
    if (!filter.reached) {
        lines.push_back({2, "filter " + Quoted(filter.name) + ": not reached (after a Stop)"});
        return;
    }
    if (filter.name.empty()) {
        lines.push_back({2, "filter \"\": an empty name never matches"});
        return;
    }
    lines.push_back({2, "filter " + Quoted(filter.name) + ": " +
                            (filter.matched ? "matched" : "did not match") +
                            (filter.rules.empty() ? " (no rule lines)" : "")});
    for (std::size_t i = 0; i < filter.rules.size(); ++i) {
        const RuleLineTrace& rule = filter.rules[i];
        lines.push_back({3, RuleText(i, rule), rule.deciding});
    }
    for (const auto& action : filter.actions)
        AddStep(lines, 3, action, "after Stop");
}

// JSON strings: the report's bytes come from mail and settings, so anything that is not
// valid UTF-8 is written byte by byte as \u00XX, and the output always parses.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto escapeByte = [&out](unsigned char byte) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
        out += buffer;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\n') {
            out += "\\n";
            ++i;
        } else if (c == '\r') {
            out += "\\r";
            ++i;
        } else if (c == '\t') {
            out += "\\t";
            ++i;
        } else if (c < 0x20 || c == 0x7f) {
            escapeByte(c);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // The length of a well-formed sequence starting here, or 0.
            std::size_t length = c >= 0xc2 && c <= 0xdf   ? 2
                                 : c >= 0xe0 && c <= 0xef ? 3
                                 : c >= 0xf0 && c <= 0xf4 ? 4
                                                          : 0;
            if (i + length > text.size()) length = 0;
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xc0) != 0x80) length = 0;
            }
            if (length == 3) {
                const auto second = static_cast<unsigned char>(text[i + 1]);
                // Overlong forms and UTF-16 surrogates.
                if ((c == 0xe0 && second < 0xa0) || (c == 0xed && second >= 0xa0)) length = 0;
            } else if (length == 4) {
                const auto second = static_cast<unsigned char>(text[i + 1]);
                if ((c == 0xf0 && second < 0x90) || (c == 0xf4 && second >= 0x90)) length = 0;
            }
            if (length == 0) {
                escapeByte(c);
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
        }
    }
    return out + "\"";
}

std::string JsonStrings(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i)
        out += (i ? "," : "") + JsonString(texts[i]);
    return out + "]";
}

std::string JsonStep(const ReportStep& step) {
    return std::string("{\"line\":") + JsonString(step.line) +
           ",\"reached\":" + YesNo(step.reached) + ",\"details\":" + JsonStrings(step.details) +
           "}";
}

std::string JsonSteps(const std::vector<ReportStep>& steps) {
    std::string out = "[";
    for (std::size_t i = 0; i < steps.size(); ++i)
        out += (i ? "," : "") + JsonStep(steps[i]);
    return out + "]";
}

const char* RuleKindName(RuleLineTrace::Kind kind) {
    switch (kind) {
    case RuleLineTrace::Kind::Condition:
        return "condition";
    case RuleLineTrace::Kind::Blank:
        return "blank";
    case RuleLineTrace::Kind::NoEffect:
        return "no effect";
    }
    return "";
}

std::string JsonRule(const RuleLineTrace& rule) {
    return std::string("{\"line\":") + JsonString(rule.line) + ",\"kind\":\"" +
           RuleKindName(rule.kind) + "\",\"connector\":" + JsonString(rule.connector) +
           ",\"evaluated\":" + YesNo(rule.evaluated) + ",\"result\":" + YesNo(rule.own) +
           ",\"running\":" + YesNo(rule.running) + ",\"known_field\":" + YesNo(rule.knownField) +
           ",\"deciding\":" + YesNo(rule.deciding) + "}";
}

std::string JsonFilter(const FilterReport& filter) {
    std::string rules = "[";
    for (std::size_t i = 0; i < filter.rules.size(); ++i)
        rules += (i ? "," : "") + JsonRule(filter.rules[i]);
    rules += "]";
    return std::string("{\"name\":") + JsonString(filter.name) +
           ",\"reached\":" + YesNo(filter.reached) + ",\"matched\":" + YesNo(filter.matched) +
           ",\"rules\":" + rules + ",\"actions\":" + JsonSteps(filter.actions) +
           ",\"stops\":" + YesNo(filter.stops) + "}";
}

std::string JsonOptional(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

} // namespace

std::vector<ReportLine> MessageReportLines(const MessageReport& message) {
    std::vector<ReportLine> lines;
    std::string head = "message " + std::to_string(message.number);
    if (!message.uid.empty()) head += ", id " + message.uid;
    if (message.size >= 0) head += ", " + std::to_string(message.size) + " bytes";
    lines.push_back({1, head});
    if (message.fate == MessageFate::NotReached) {
        lines.push_back({2, "not reached (" + message.notReachedReason + ")"});
        return lines;
    }
    if (!message.from.empty() || !message.subject.empty()) {
        lines.push_back({2, "From: " + message.from});
        lines.push_back({2, "Subject: " + message.subject});
    }
    switch (message.fate) {
    case MessageFate::Cached:
        lines.push_back({2, "cached: processed in an earlier session, left alone", true});
        break;
    case MessageFate::LeftOverDeletion:
        lines.push_back(
            {2, "deleted now: its deletion was left from an interrupted session", true});
        break;
    case MessageFate::SizeUnknown:
        lines.push_back({2, "size not known (LIST refused): left for the next session", true});
        break;
    case MessageFate::TooBig:
        lines.push_back({2, "too big: over the size limit, passed over", true});
        break;
    case MessageFate::HeaderUnread:
        lines.push_back({2, "header not read (TOP refused): left for the next session", true});
        break;
    case MessageFate::Accepted:
        lines.push_back({2,
                         "accepted by the Accept List entry " + Quoted(message.acceptEntry) +
                             " (tested against From): no filter is tried",
                         true});
        break;
    case MessageFate::Rejected:
        lines.push_back({2,
                         "rejected by the Reject List entry " + Quoted(message.rejectEntry) +
                             " against the originator " + Quoted(message.originator),
                         true});
        if (message.responses.empty()) lines.push_back({3, "no response is switched on"});
        break;
    case MessageFate::Filtered:
        lines.push_back({2, "neither accepted nor rejected: the filters are tried"});
        break;
    case MessageFate::NotReached:
        break;
    }
    for (const auto& response : message.responses)
        AddStep(lines, 3, response, "");
    for (const auto& filter : message.filters)
        AddFilter(lines, filter);
    if (message.fate == MessageFate::Filtered && message.filters.empty()) {
        lines.push_back({2, "no filter in the mailbox's filter order"});
    }
    if (message.deleted) lines.push_back({2, "the message would be deleted at QUIT"});
    if (!message.log.empty()) {
        lines.push_back({2, "the log would read:"});
        for (const auto& text : message.log)
            lines.push_back({3, text});
    }
    return lines;
}

std::vector<ReportLine> MailboxHeadLines(const MailboxReport& mailbox) {
    std::vector<ReportLine> lines;
    lines.push_back({0, "mailbox " + Quoted(mailbox.name) +
                            (mailbox.passedOver.empty() ? "" : ": " + mailbox.passedOver)});
    for (std::size_t i = 0; i < mailbox.logBeforeMessages && i < mailbox.log.size(); ++i)
        lines.push_back({1, mailbox.log[i]});
    if (mailbox.outboxWaiting > 0) {
        lines.push_back({1, std::to_string(mailbox.outboxWaiting) +
                                " message(s) wait in the outbox: a session sends them first"});
    }
    return lines;
}

std::vector<ReportLine> MailboxTailLines(const MailboxReport& mailbox) {
    std::vector<ReportLine> lines;
    for (std::size_t i = mailbox.logBeforeMessages; i < mailbox.log.size(); ++i)
        lines.push_back({1, mailbox.log[i]});
    return lines;
}

std::vector<ReportLine> TestRunReportLines(const TestRunReport& report) {
    std::vector<ReportLine> lines;
    lines.push_back({0, "Test run: nothing was deleted, sent, run or written."});
    for (const auto& mailbox : report.mailboxes) {
        for (auto& line : MailboxHeadLines(mailbox))
            lines.push_back(std::move(line));
        for (const auto& message : mailbox.messages) {
            for (auto& line : MessageReportLines(message))
                lines.push_back(std::move(line));
        }
        for (auto& line : MailboxTailLines(mailbox))
            lines.push_back(std::move(line));
    }
    for (const auto& text : report.log) {
        if (text.rfind("error: ", 0) == 0) lines.push_back({0, text});
    }
    if (report.stopped) lines.push_back({0, "The test run was stopped."});
    return lines;
}

std::string ReportLineText(const ReportLine& line) {
    return (line.deciding ? "=> " : "   ") +
           std::string(static_cast<std::size_t>(line.depth) * 2, ' ') + line.text;
}

std::string MessageJson(const MailboxReport& mailbox, const MessageReport& message) {
    std::string filters = "[";
    for (std::size_t i = 0; i < message.filters.size(); ++i)
        filters += (i ? "," : "") + JsonFilter(message.filters[i]);
    filters += "]";
    return std::string("{\"type\":\"message\",\"mailbox\":") + JsonString(mailbox.name) +
           ",\"number\":" + std::to_string(message.number) + ",\"uid\":" + JsonString(message.uid) +
           ",\"from\":" + JsonString(message.from) + ",\"subject\":" + JsonString(message.subject) +
           ",\"size\":" + (message.size >= 0 ? std::to_string(message.size) : "null") +
           ",\"decision\":\"" + FateName(message.fate) +
           "\",\"not_reached\":" + JsonOptional(message.notReachedReason) +
           ",\"accept_entry\":" + JsonOptional(message.acceptEntry) +
           ",\"reject_entry\":" + JsonOptional(message.rejectEntry) +
           ",\"originator\":" + JsonOptional(message.originator) +
           ",\"responses\":" + JsonSteps(message.responses) + ",\"filters\":" + filters +
           ",\"deleted\":" + YesNo(message.deleted) + ",\"log\":" + JsonStrings(message.log) + "}";
}

std::string MailboxJson(const MailboxReport& mailbox) {
    return std::string("{\"type\":\"mailbox\",\"mailbox\":") + JsonString(mailbox.name) +
           ",\"passed_over\":" + JsonOptional(mailbox.passedOver) +
           ",\"outbox_waiting\":" + std::to_string(mailbox.outboxWaiting) +
           ",\"log\":" + JsonStrings(mailbox.log) + "}";
}

} // namespace zelm
