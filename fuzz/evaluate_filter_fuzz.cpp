// Filter rules come from the store, which scripts and imports can fill with anything: no rule
// text, field list or value may crash the evaluation, and the two text comparisons must stay
// each other's opposite.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session/filter_evaluation.h"

namespace {

const char* const kConnectors[] = {"      ", "AND   ", "OR    ", "and   ", ""};
const char* const kComparisons[] = {" contains `", " does not contain `", " is greater than `",
                                    " is less than `"};
const char* const kLineEnds[] = {"\r\n", "\n", "\r", ""};

template <typename T, std::size_t N>
const T& Pick(FuzzedDataProvider& input, const T (&choices)[N]) {
    return choices[input.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> names{"Bcc",      "Cc",          "From", "Originator", "Recipients",
                                   "Reply-To", "Return-Path", "Size", "Subject",    "To"};
    const auto builtIns = names.size();
    const auto extraNames = input.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < extraNames; ++i)
        names.push_back(input.ConsumeRandomLengthString(16));
    // Fewer values than names is allowed: the missing ones read as empty.
    std::vector<std::string> values;
    const auto valueCount = input.ConsumeIntegralInRange<std::size_t>(0, names.size());
    for (std::size_t i = 0; i < valueCount; ++i)
        values.push_back(input.ConsumeRandomLengthString(64));
    const zelm::FilterMessage message{names, values, input.ConsumeIntegral<std::int64_t>()};

    // The two text comparisons of one field are opposites when no other name can match.
    if (extraNames == 0) {
        const auto& field = names[input.ConsumeIntegralInRange<std::size_t>(0, builtIns - 1)];
        const auto text = input.ConsumeRandomLengthString(16);
        const bool contains = zelm::EvaluateCondition(field + " contains `" + text + "`", message);
        const bool lacks =
            zelm::EvaluateCondition(field + " does not contain `" + text + "`", message);
        if (contains == lacks) __builtin_trap();
    }

    // Rule lines in the stored form, mixed with raw lines, so both the connector column and
    // the comparisons are reached.
    std::string rules;
    while (input.remaining_bytes() > 0) {
        if (input.ConsumeBool()) {
            rules += input.ConsumeRandomLengthString(80);
        } else {
            rules += Pick(input, kConnectors);
            rules += names[input.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
            rules += Pick(input, kComparisons);
            rules += input.ConsumeRandomLengthString(24);
            rules += "`";
        }
        rules += Pick(input, kLineEnds);
    }
    zelm::EvaluateRules(rules, message);
    return 0;
}
