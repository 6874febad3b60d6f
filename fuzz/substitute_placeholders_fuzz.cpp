// Template lines come from the user and values from any sender: no line or value may crash
// the substitution, and its result must be the plain reading of the placeholder rule, which a
// slow but obvious version below spells out.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/string_helpers.h"
#include "messages/compose.h"
#include "messages/header_summary.h"

namespace {

// Each "{" from the left: the name up to the next "}", trimmed; a known name with a non-empty
// value replaces the placeholder and the search goes on after it in the line, so a value is
// never scanned; anything else stays as written and the search goes on at the next character.
std::string ObviousSubstitution(const std::string& line, const zelm::MessageVariables& variables,
                                std::time_t now) {
    std::string result;
    std::size_t copied = 0;
    std::size_t open = line.find('{');
    while (open != std::string::npos) {
        const std::size_t close = line.find('}', open);
        std::string value;
        if (close != std::string::npos) {
            const std::string name = zelm::Trim(line.substr(open + 1, close - open - 1));
            if (zelm::EqualsNoCase(name, "DateStamp")) {
                value = zelm::FormatDateStamp(now);
            } else if (zelm::EqualsNoCase(name, "TimeStamp")) {
                value = zelm::FormatTimeStamp(now);
            } else {
                for (std::size_t i = 0; i < variables.names.size(); ++i) {
                    if (!zelm::EqualsNoCase(variables.names[i], name)) continue;
                    if (i < variables.values.size()) value = variables.values[i];
                    break;
                }
            }
        }
        if (value.empty()) {
            open = line.find('{', open + 1);
            continue;
        }
        result += line.substr(copied, open - copied);
        result += value;
        copied = close + 1;
        open = line.find('{', copied);
    }
    return result + line.substr(copied);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> textVarNames;
    const auto textVarCount = input.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < textVarCount; ++i)
        textVarNames.push_back(input.ConsumeRandomLengthString(12));
    zelm::MessageVariables variables;
    variables.RebuildNames(zelm::BuiltInHeaderFieldList(), textVarNames);
    // Fewer values than names is allowed: a name without one reads as empty. Values may hold
    // braces and line breaks, which must come out as they stand.
    const auto valueCount = input.ConsumeIntegralInRange<std::size_t>(0, variables.names.size());
    for (std::size_t i = 0; i < valueCount; ++i)
        variables.values.push_back(input.ConsumeRandomLengthString(24));
    // Any moment from 1970 to the end of year 9999.
    const auto now = static_cast<std::time_t>(
        input.ConsumeIntegralInRange<std::int64_t>(0, std::int64_t{253402300799}));
    const std::string line = input.ConsumeRemainingBytesAsString();

    const std::string result = zelm::SubstitutePlaceholders(line, variables, now);
    if (result != ObviousSubstitution(line, variables, now)) __builtin_trap();
    return 0;
}
