#include "messages/header_summary.h"

#include <algorithm>

#include "core/string_helpers.h"

namespace zelm {

namespace {

bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// The three values joined with single commas, also when some are empty.
std::string JoinThree(const std::string& a, const std::string& b, const std::string& c) {
    std::string joined;
    joined.reserve(a.size() + b.size() + c.size() + 2);
    joined += a;
    joined += ',';
    joined += b;
    joined += ',';
    joined += c;
    return joined;
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
// with its continuation lines; index moves past them.
std::string UnfoldedValue(const std::vector<std::string>& headerLines, std::size_t colon,
                          std::size_t& index) {
    std::string value(TrimmedView(std::string_view(headerLines[index - 1]).substr(colon + 1)));
    while (index < headerLines.size() && IsContinuation(headerLines[index])) {
        value += ' ';
        value += TrimmedView(headerLines[index]);
        ++index;
    }
    return value;
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

bool ParseHeaders(const std::vector<std::string>& headerLines, const HeaderFieldList& fields,
                  std::int64_t messageSize, MessageState& state) {
    HeaderSummary& summary = state.headerSummary;
    summary.fields = fields;
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
        summary.values[*position] = UnfoldedValue(headerLines, colon, index);
    }

    auto valueOf = [&](std::string_view name) -> std::string {
        const auto position = FindFieldName(fields, name);
        return position ? summary.values[*position] : std::string();
    };
    auto setValue = [&](std::string_view name, const std::string& value) {
        if (const auto position = FindFieldName(fields, name)) summary.values[*position] = value;
    };

    // The size always comes from LIST; a "Size:" line of the message cannot change it.
    setValue("Size", std::to_string(messageSize));
    summary.to = valueOf("To");
    summary.subject = valueOf("Subject");
    summary.from = valueOf("From");
    summary.replyTo = valueOf("Reply-To");
    summary.returnPath = valueOf("Return-Path");
    if (summary.replyTo.empty()) {
        summary.replyTo = summary.from;
        setValue("Reply-To", summary.replyTo);
    }
    if (summary.returnPath.empty()) {
        summary.returnPath = summary.replyTo;
        setValue("Return-Path", summary.returnPath);
    }
    setValue("Recipients", JoinThree(summary.to, valueOf("Cc"), valueOf("Bcc")));
    summary.originator = JoinThree(summary.from, summary.replyTo, summary.returnPath);
    setValue("Originator", summary.originator);

    // Values of the previous message ("Header", "Body", extracted text) are dropped here.
    state.messageVariables.values = summary.values;
    state.messageVariables.body = nullptr;
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
        value = UnfoldedValue(headerLines, colon, index);
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
