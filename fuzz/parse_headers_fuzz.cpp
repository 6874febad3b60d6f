// Headers come from any sender and the field list from the store: no header, field list or
// recipient text may crash the parser, and the summary must keep the rules screening relies on
// (Size from LIST, the fall-backs of Reply-To and Return-Path, the composed fields, nothing
// read past the end of the header).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/string_helpers.h"
#include "messages/header_summary.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// What every address handed to the SMTP sender must look like: one word holding "@" with
// none of the stripped punctuation, or nothing at all.
void CheckAddress(const std::string& address) {
    if (address.empty()) return;
    Check(address.find('@') != std::string::npos);
    Check(address.find(' ') == std::string::npos);
    Check(address.find_first_of("<>\"'`()[]") == std::string::npos);
}

void CheckSummary(const zelm::MessageState& state, const zelm::HeaderFieldList& fields,
                  std::int64_t size) {
    const auto& summary = state.headerSummary;
    Check(summary.fields == fields);
    Check(summary.values.size() == fields.size());
    Check(summary.size == size);
    // Values of an earlier message never survive a parse.
    Check(state.messageVariables.values == summary.values);
    if (const auto value = summary.Value("Size")) Check(*value == std::to_string(size));
    // Each fall-back fills the one after it, so an empty Return-Path means nothing to reply to.
    if (summary.replyTo.empty()) Check(summary.from.empty());
    if (summary.returnPath.empty()) Check(summary.replyTo.empty());
    Check(summary.originator == summary.from + "," + summary.replyTo + "," + summary.returnPath);
    if (const auto value = summary.Value("Originator")) Check(*value == summary.originator);
    if (const auto value = summary.Value("Reply-To")) Check(*value == summary.replyTo);
    if (const auto value = summary.Value("Return-Path")) Check(*value == summary.returnPath);
    if (const auto value = summary.Value("Subject")) Check(*value == summary.subject);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);

    // Either the list as the store keeps it, or the built-in names plus a few of the user's.
    zelm::HeaderFieldList fields;
    if (input.ConsumeBool()) {
        fields = zelm::HeaderFieldListFromStored(input.ConsumeRandomLengthString(120));
    } else {
        fields = zelm::BuiltInHeaderFieldList();
        const auto extraNames = input.ConsumeIntegralInRange<int>(0, 4);
        for (int i = 0; i < extraNames; ++i)
            fields.push_back(input.ConsumeRandomLengthString(16));
        zelm::SortHeaderFieldList(fields);
    }
    std::vector<std::string> textVarNames;
    const auto textVarCount = input.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < textVarCount; ++i)
        textVarNames.push_back(input.ConsumeRandomLengthString(12));
    const auto messageSize = input.ConsumeIntegral<std::int64_t>();
    const std::string recipientText = input.ConsumeRandomLengthString(120);
    // The rest is the TOP reply's text, split into lines as the POP3 client splits it.
    const std::string headerText = input.ConsumeRemainingBytesAsString();
    const std::vector<std::string> headerLines = zelm::SplitListValue(headerText);

    zelm::MessageState state;
    state.messageVariables.RebuildNames(fields, textVarNames);
    // Stale values of a previous message, which the parse must drop.
    state.messageVariables.values.assign(fields.size() + 2 + textVarNames.size(), "stale");
    zelm::ParseHeaders(headerLines, fields, messageSize, state);
    CheckSummary(state, fields, messageSize);

    // The first empty line ends the header: what follows it changes nothing.
    std::vector<std::string> headerOnly;
    for (const auto& line : headerLines) {
        if (line.empty()) break;
        headerOnly.push_back(line);
    }
    if (headerOnly.size() != headerLines.size()) {
        zelm::MessageState alone;
        zelm::ParseHeaders(headerOnly, fields, messageSize, alone);
        Check(alone.headerSummary.values == state.headerSummary.values);
    }

    for (const auto& line : headerLines)
        CheckAddress(zelm::ExtractAddress(line));
    CheckAddress(zelm::ExtractAddress(headerText));

    // References resolve against the header values, "Header", "Body" and extracted texts.
    std::vector<std::string> extracted;
    for (std::size_t i = 0; i < textVarNames.size(); ++i)
        extracted.push_back(recipientText.substr(0, i * 7));
    const auto bodyText = zelm::MessageText::FromLines(headerOnly);
    zelm::AppendRetrievedValues(state.messageVariables, headerLines, bodyText);
    state.messageVariables.values.insert(state.messageVariables.values.end(), extracted.begin(),
                                         extracted.end());
    for (const std::string& list : {recipientText, state.headerSummary.originator}) {
        zelm::ExpandRecipients(list, state);
        // One entry per comma-separated piece: an entry without an address stays, empty.
        Check(state.recipientList.size() == zelm::Split(list, ",").pieces.size());
        for (const auto& recipient : state.recipientList)
            CheckAddress(recipient);
    }
    return 0;
}
