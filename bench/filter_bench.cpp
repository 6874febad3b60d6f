// Filter evaluation runs for every filter of every new message, with the rules read afresh
// from the store; text extraction walks a whole body per search. These show what each costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/string_helpers.h"
#include "session/filter_evaluation.h"
#include "session/text_extraction.h"

namespace {

using zelm::FilterMessage;

// The built-in fields plus two user-added ones, with header values of everyday length.
struct Message {
    std::vector<std::string> names{"Bcc",        "Cc",       "From",        "Originator",
                                   "Recipients", "Reply-To", "Return-Path", "Size",
                                   "Subject",    "To",       "X-Mailer",    "X-Spam-Status"};
    std::vector<std::string> values{
        "",
        "Team List <team@lists.example.org>",
        "\"Alice Example\" <alice.example@mail.example.com>",
        "\"Alice Example\" <alice.example@mail.example.com>,\"Alice Example\" "
        "<alice.example@mail.example.com>,\"Alice Example\" <alice.example@mail.example.com>",
        "Bob Receiver <bob@example.net>,Team List <team@lists.example.org>,",
        "\"Alice Example\" <alice.example@mail.example.com>",
        "\"Alice Example\" <alice.example@mail.example.com>",
        "48211",
        "Re: [team] Quarterly figures for the planning meeting next Tuesday",
        "Bob Receiver <bob@example.net>",
        "Example Mailer 4.2",
        "No, score=-1.9 required=5.0 tests=BAYES_00 autolearn=ham"};

    FilterMessage View() const { return {names, values, 48211}; }
};

// Four rules, all evaluated: the first is true, so the OR line is skipped, the ANDs run.
const std::string kRules = "      From contains `alice`\r\n"
                           "OR    Reply-To contains `alice`\r\n"
                           "AND   Subject contains `QUARTERLY`\r\n"
                           "AND   Size is less than `100000`\r\n"
                           "AND   X-Spam-Status does not contain `score=9`\r\n";

void BM_EvaluateRules(benchmark::State& state) {
    const Message message;
    for (auto _ : state)
        benchmark::DoNotOptimize(zelm::EvaluateRules(kRules, message.View()));
}
BENCHMARK(BM_EvaluateRules);

// A rule on the last field of a longer user list: every name is compared first.
void BM_EvaluateConditionLastField(benchmark::State& state) {
    Message message;
    for (int i = 0; i < 40; ++i) {
        message.names.insert(message.names.begin(), "X-Field-" + std::to_string(i));
        message.values.insert(message.values.begin(), "some value " + std::to_string(i));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(
            zelm::EvaluateCondition("X-Spam-Status does not contain `score=9`", message.View()));
}
BENCHMARK(BM_EvaluateConditionLastField);

// What a session pays per filter and message: the store read of "Rules" and the evaluation.
void BM_EvaluateFilterFromStore(benchmark::State& state) {
    char pattern[] = "/tmp/zelm-filter-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = pattern;
    {
        zelm::SettingsDb db(dir + "/settings.db");
        zelm::WriteRegString(db, zelm::FilterKeyPath("home", "figures"), "Rules", kRules);
        const Message message;
        for (auto _ : state)
            benchmark::DoNotOptimize(zelm::EvaluateFilter(db, "home", "figures", message.View()));
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_EvaluateFilterFromStore);

// A body of N lines of 70 characters, the wanted line last: one search walks it all.
void BM_RunExtractionRoutine(benchmark::State& state) {
    const auto lines = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> body(lines, std::string(70, 'x'));
    body.back() = "Order: 1234";
    const std::vector<std::string> routine{"Go to string in msg: Order:", "Forward # of chars: 6",
                                           "Text extraction start", "Go to line end",
                                           "Text extraction end (order)"};
    for (auto _ : state)
        benchmark::DoNotOptimize(zelm::RunExtractionRoutine(routine, body));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines * 72));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RunExtractionRoutine)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity();

// A cut of the whole body: the copy is linear too.
void BM_ExtractWholeBody(benchmark::State& state) {
    const auto lines = static_cast<std::size_t>(state.range(0));
    const std::vector<std::string> body(lines, std::string(70, 'x'));
    const std::vector<std::string> routine{"Go to msg end", "Text extraction end (all)"};
    for (auto _ : state)
        benchmark::DoNotOptimize(zelm::RunExtractionRoutine(routine, body));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines * 72));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExtractWholeBody)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

} // namespace

BENCHMARK_MAIN();
