// Extraction routines come from the store and bodies from any sender: no routine over any body
// may crash, leave the message, or cut more than the body holds.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session/text_extraction.h"

namespace {

const char* const kCommands[] = {
    "Go to msg start",     "Go to msg end",        "Go to line start",      "Go to line end",
    "Go to string in msg", "Go to string in line", "Forward # of lines",    "Back # of lines",
    "Forward # of chars",  "Back # of chars",      "Text extraction start", "Text extraction end",
};

bool Trimmed(const std::string& text) {
    return text.empty() || (static_cast<unsigned char>(text.front()) > 32 &&
                            static_cast<unsigned char>(text.back()) > 32);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> body;
    std::size_t bodyBytes = 0;
    const auto lineCount = input.ConsumeIntegralInRange<std::size_t>(0, 12);
    for (std::size_t i = 0; i < lineCount; ++i) {
        body.push_back(input.ConsumeRandomLengthString(40));
        bodyBytes += body.back().size() + 2;
    }

    std::vector<std::string> routine;
    std::size_t endLines = 0;
    while (input.remaining_bytes() > 0) {
        const auto kind = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kCommands));
        if (kind == std::size(kCommands)) {
            routine.push_back(input.ConsumeRandomLengthString(40));
        } else {
            std::string line = kCommands[kind];
            // Counts: numbers of every size and sign, or any text.
            if (input.ConsumeBool()) {
                line += ": " + std::to_string(input.ConsumeIntegral<std::int32_t>());
            } else {
                line += input.ConsumeRandomLengthString(16);
            }
            routine.push_back(line);
        }
        if (routine.back().starts_with("Text extraction end")) ++endLines;
    }

    const auto values = zelm::RunExtractionRoutine(routine, body);
    if (values.size() != endLines) __builtin_trap();
    for (const auto& value : values) {
        if (!Trimmed(value) || value.size() > bodyBytes) __builtin_trap();
    }
    const auto names = zelm::TextVarNamesOf(routine);
    if (names.size() != endLines) __builtin_trap();
    if (zelm::PairTextVariables(names, values).size() != names.size()) __builtin_trap();
    return 0;
}
