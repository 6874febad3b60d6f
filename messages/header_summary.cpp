#include "messages/header_summary.h"

#include <algorithm>

#include "core/string_helpers.h"

namespace zelm {

namespace {

bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// The three values joined with single commas, also when some are empty; built in place, so a
// value kept from the last message lends its room.
void AssignJoinedThree(std::string& joined, std::string_view a, std::string_view b,
                       std::string_view c) {
    joined.clear();
    joined.reserve(a.size() + b.size() + c.size() + 2);
    joined += a;
    joined += ',';
    joined += b;
    joined += ',';
    joined += c;
}

bool IsAddressPunctuation(char c) {
    switch (c) {
    case '<':
    case '>':
    case '"':
    case '\'':
    case '`':
    case '(':
    case ')':
    case '[':
    case ']':
        return true;
    default:
        return false;
    }
}

// The value of the field whose line is headerLines[index - 1] (its colon at colon), trimmed,
// with its continuation lines, assigned to value; index moves past them.
void AssignUnfoldedValue(std::string& value, const std::vector<std::string>& headerLines,
                         std::size_t colon, std::size_t& index) {
    value.assign(TrimmedView(std::string_view(headerLines[index - 1]).substr(colon + 1)));
    while (index < headerLines.size() && IsContinuation(headerLines[index])) {
        value += ' ';
        value += TrimmedView(headerLines[index]);
        ++index;
    }
}

} // namespace

HeaderFieldList BuiltInHeaderFieldList() {
    return HeaderFieldList(kBuiltInHeaderFields.begin(), kBuiltInHeaderFields.end());
}

HeaderFieldList HeaderFieldListFromStored(const std::string& storedValue) {
    HeaderFieldList fields = SplitListValue(storedValue);
    // An empty name would match every header line without a colon.
    std::erase_if(fields, [](const std::string& name) { return name.empty(); });
    return fields;
}

void SortHeaderFieldList(HeaderFieldList& fields) {
    std::stable_sort(fields.begin(), fields.end(), LessNoCase);
}

std::optional<std::size_t> FindFieldName(const std::vector<std::string>& names,
                                         std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (EqualsNoCase(names[i], name)) return i;
    }
    return std::nullopt;
}

std::optional<std::string_view> HeaderSummary::Value(std::string_view name) const {
    const auto position = FindFieldName(fields, name);
    if (!position) return std::nullopt;
    if (*position >= values.size()) return std::string_view();
    return std::string_view(values[*position]);
}

void HeaderSummary::Clear() {
    fields.clear();
    SetAsideStrings(values, spareValues);
    for (std::string* copy : {&to, &subject, &from, &replyTo, &returnPath, &originator})
        copy->clear();
    size = 0;
}

void MessageVariables::ClearValues() {
    SetAsideStrings(values, spareValues);
    body = nullptr;
}

void MessageVariables::RebuildNames(const HeaderFieldList& fields,
                                    const std::vector<std::string>& textVarNames) {
    names.clear();
    names.reserve(fields.size() + 2 + textVarNames.size());
    names.insert(names.end(), fields.begin(), fields.end());
    names.emplace_back("Header");
    names.emplace_back("Body");
    names.insert(names.end(), textVarNames.begin(), textVarNames.end());
}

std::optional<std::string_view> MessageVariables::Lookup(std::string_view name) const {
    const auto position = FindFieldName(names, name);
    if (!position) return std::nullopt;
    if (*position >= values.size()) return std::string_view();
    if (body && *position == bodyPosition) return body->Text();
    return std::string_view(values[*position]);
}

void SummaryFieldPositions::Find(const HeaderFieldList& list) {
    if (found && fields == list) return;
    fields = list;
    found = true;
    size = FindFieldName(list, "Size");
    to = FindFieldName(list, "To");
    subject = FindFieldName(list, "Subject");
    from = FindFieldName(list, "From");
    replyTo = FindFieldName(list, "Reply-To");
    returnPath = FindFieldName(list, "Return-Path");
    cc = FindFieldName(list, "Cc");
    bcc = FindFieldName(list, "Bcc");
    recipients = FindFieldName(list, "Recipients");
    originator = FindFieldName(list, "Originator");
}

bool ParseHeaders(const std::vector<std::string>& headerLines, const HeaderFieldList& fields,
                  std::int64_t messageSize, MessageState& state) {
    HeaderSummary& summary = state.headerSummary;
    summary.fields = fields;
    // The last message's values lend their room (assign keeps each string's capacity).
    TakeBackStrings(summary.values, summary.spareValues);
    summary.values.assign(fields.size(), std::string());
    summary.size = messageSize;

    std::size_t index = 0;
    while (index < headerLines.size()) {
        const std::string& line = headerLines[index];
        if (line.empty()) break; // the end of the header
        ++index;
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;
        // The name is taken exactly as written: "Subject :" is no Subject line.
        const auto position = FindFieldName(fields, std::string_view(line).substr(0, colon));
        if (!position) continue;
        // A repeated field: the last occurrence wins.
        AssignUnfoldedValue(summary.values[*position], headerLines, colon, index);
    }

    // The positions of the names filled here are found once per field list, not per message.
    SummaryFieldPositions& at = state.summaryPositions;
    at.Find(fields);
    std::vector<std::string>& values = summary.values;
    const auto valueAt = [&](const std::optional<std::size_t>& position) -> std::string_view {
        return position ? std::string_view(values[*position]) : std::string_view();
    };

    // The size always comes from LIST; a "Size:" line of the message cannot change it.
    if (at.size) values[*at.size] = std::to_string(messageSize);
    summary.to.assign(valueAt(at.to));
    summary.subject.assign(valueAt(at.subject));
    summary.from.assign(valueAt(at.from));
    summary.replyTo.assign(valueAt(at.replyTo));
    summary.returnPath.assign(valueAt(at.returnPath));
    if (summary.replyTo.empty()) {
        summary.replyTo = summary.from;
        if (at.replyTo) values[*at.replyTo] = summary.replyTo;
    }
    if (summary.returnPath.empty()) {
        summary.returnPath = summary.replyTo;
        if (at.returnPath) values[*at.returnPath] = summary.returnPath;
    }
    // Recipients is none of the three names it joins, so its value is never read while built.
    if (at.recipients) {
        AssignJoinedThree(values[*at.recipients], summary.to, valueAt(at.cc), valueAt(at.bcc));
    }
    AssignJoinedThree(summary.originator, summary.from, summary.replyTo, summary.returnPath);
    if (at.originator) values[*at.originator] = summary.originator;

    // Values of the previous message ("Header", "Body", extracted text) are dropped here.
    MessageVariables& variables = state.messageVariables;
    TakeBackStrings(variables.values, variables.spareValues);
    variables.values = summary.values;
    variables.body = nullptr;
    return true;
}

std::optional<std::string> HeaderFieldValue(const std::vector<std::string>& headerLines,
                                            std::string_view name) {
    std::optional<std::string> value;
    std::size_t index = 0;
    while (index < headerLines.size() && !headerLines[index].empty()) {
        const std::string& line = headerLines[index++];
        const auto colon = line.find(':');
        if (colon == std::string::npos ||
            !EqualsNoCase(std::string_view(line).substr(0, colon), name))
            continue;
        AssignUnfoldedValue(value.emplace(), headerLines, colon, index);
    }
    return value;
}

std::string ExtractAddress(std::string_view text) {
    // Every word is examined, so an address after a long display name is still found.
    std::size_t start = 0;
    for (;;) {
        const auto blank = text.find(' ', start);
        const auto word =
            text.substr(start, blank == std::string_view::npos ? text.npos : blank - start);
        if (word.find('@') != std::string_view::npos) {
            std::string address;
            address.reserve(word.size());
            for (const char c : word) {
                if (!IsAddressPunctuation(c)) address += c;
            }
            return address;
        }
        if (blank == std::string_view::npos) return std::string();
        start = blank + 1;
    }
}

void ExpandRecipients(const std::string& list, MessageState& state) {
    RecipientList& recipients = state.recipientList;
    recipients = Split(list, ",").pieces;
    for (std::string& entry : recipients) {
        // Only an entry whose very first character is "{" is a reference.
        if (!entry.empty() && entry.front() == '{') {
            const std::string_view name = entry.size() >= 2
                                              ? std::string_view(entry).substr(1, entry.size() - 2)
                                              : std::string_view();
            if (const auto value = state.messageVariables.Lookup(name)) entry = std::string(*value);
        }
        entry = ExtractAddress(entry);
    }
}

void AppendRetrievedValues(MessageVariables& variables, const std::vector<std::string>& headerLines,
                           const MessageText& messageBody) {
    variables.values.push_back(JoinListValue(headerLines));
    // "Body" reads the retrieved text itself; its slot stays empty so the body is held once.
    variables.body = &messageBody;
    variables.bodyPosition = variables.values.size();
    variables.values.emplace_back();
}

void ResetRetrievedValues(MessageState& state, const std::vector<std::string>& headerLines,
                          const MessageText& messageBody) {
    state.messageVariables.values = state.headerSummary.values;
    AppendRetrievedValues(state.messageVariables, headerLines, messageBody);
}

bool EnsureRetrievedWith(const RetrieveMessage& retrieve, MessageVariables& variables,
                         const std::vector<std::string>& headerLines,
                         const MessageText& messageBody) {
    // A failed retrieval adds nothing: a placeholder for "Body" then stays unresolved rather
    // than being filled with a previous message's text.
    if (!retrieve()) return false;
    AppendRetrievedValues(variables, headerLines, messageBody);
    return true;
}

} // namespace zelm
