#include "session/test_run.h"

namespace zelm {

void TestRun::BeginMailbox(const std::string& name) {
    report.mailboxes.emplace_back().name = name;
    m_inMailbox = true;
    m_inMessage = false;
    m_inFilter = false;
    m_step = nullptr;
}

MailboxReport& TestRun::Mailbox() {
    // Lines logged before the first mailbox (none are expected) still find a home.
    if (report.mailboxes.empty()) report.mailboxes.emplace_back();
    return report.mailboxes.back();
}

void TestRun::EndMailbox() {
    m_inMailbox = false;
    m_inMessage = false;
    m_inFilter = false;
    m_step = nullptr;
}

void TestRun::BeginMessage(int number) {
    Mailbox().messages.emplace_back().number = number;
    m_inMessage = true;
    m_inFilter = false;
    m_step = nullptr;
}

MessageReport* TestRun::Message() {
    return m_inMessage ? &Mailbox().messages.back() : nullptr;
}

void TestRun::EndMessage() {
    MessageReport* message = Message();
    m_inMessage = false;
    m_inFilter = false;
    m_step = nullptr;
    if (message && messageDone) messageDone(Mailbox(), *message);
}

void TestRun::NotReached(int from, int to, const std::string& reason) {
    for (int number = from; number <= to; ++number) {
        MessageReport& message = Mailbox().messages.emplace_back();
        message.number = number;
        message.notReachedReason = reason;
        if (messageDone) messageDone(Mailbox(), message);
    }
}

ReportStep& TestRun::BeginResponse(const std::string& what) {
    // Responses run only inside a message; the guard keeps a stray call harmless.
    if (!Message()) BeginMessage(0);
    ReportStep& step = Message()->responses.emplace_back();
    step.line = what;
    m_step = &step;
    return step;
}

FilterReport& TestRun::BeginFilter(const std::string& name) {
    m_step = nullptr;
    MessageReport* message = Message();
    if (!message) {
        BeginMessage(0);
        message = Message();
    }
    FilterReport& filter = message->filters.emplace_back();
    filter.name = name;
    m_inFilter = true;
    return filter;
}

FilterReport* TestRun::Filter() {
    MessageReport* message = Message();
    return m_inFilter && message && !message->filters.empty() ? &message->filters.back() : nullptr;
}

ReportStep& TestRun::BeginAction(const std::string& line) {
    FilterReport* filter = Filter();
    if (!filter) return BeginResponse(line);
    ReportStep& step = filter->actions.emplace_back();
    step.line = line;
    m_step = &step;
    return step;
}

void TestRun::Detail(const std::string& text) {
    if (m_step) m_step->details.push_back(text);
}

void TestRun::Logged(LogKind kind, const std::string& text) {
    const std::string entry = kind == LogKind::Error ? "error: " + text : text;
    if (MessageReport* message = Message()) {
        message->log.push_back(entry);
    } else if (m_inMailbox) {
        MailboxReport& mailbox = Mailbox();
        mailbox.log.push_back(entry);
        if (mailbox.messages.empty()) mailbox.logBeforeMessages = mailbox.log.size();
    } else {
        report.log.push_back(entry);
    }
}

const char* FateName(MessageFate fate) {
    switch (fate) {
    case MessageFate::NotReached:
        return "not reached";
    case MessageFate::Cached:
        return "cached";
    case MessageFate::LeftOverDeletion:
        return "left-over deletion";
    case MessageFate::SizeUnknown:
        return "size not known";
    case MessageFate::TooBig:
        return "too big";
    case MessageFate::HeaderUnread:
        return "header not read";
    case MessageFate::Accepted:
        return "accepted";
    case MessageFate::Rejected:
        return "rejected";
    case MessageFate::Filtered:
        return "filtered";
    }
    return "";
}

} // namespace zelm
