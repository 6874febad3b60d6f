// One editor keystroke is one WriteRegString: it must stay well under 5 ms (median), with the
// committed value surviving a crash of the process (WAL, synchronous NORMAL).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "core/config_store.h"

namespace {

namespace fs = std::filesystem;

/// A settings database in a fresh temporary folder, removed afterwards.
class BenchStore {
public:
    BenchStore() {
        std::string pattern = (fs::temp_directory_path() / "zelm-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_folder = pattern;
        m_db = std::make_unique<zelm::SettingsDb>((m_folder / "settings.db").string());
        // A store of realistic size: a few mailboxes with their filters.
        for (int m = 0; m < 10; ++m) {
            const std::string mailbox = "box" + std::to_string(m);
            zelm::CreateMailbox(*m_db, mailbox, zelm::NewMailboxValues{});
            for (int f = 0; f < 10; ++f)
                zelm::CreateFilter(*m_db, mailbox, "filter" + std::to_string(f));
        }
    }
    ~BenchStore() {
        m_db.reset();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    zelm::SettingsDb& Db() { return *m_db; }

private:
    fs::path m_folder;
    std::unique_ptr<zelm::SettingsDb> m_db;
};

void BM_WriteRegString(benchmark::State& state) {
    BenchStore store;
    const std::string keyPath = zelm::MailboxKeyPath("box5");
    std::string text = "pop.example.com";
    for (auto _ : state) {
        text.back() = static_cast<char>('a' + state.iterations() % 26);
        zelm::WriteRegString(store.Db(), keyPath, "Host", text);
    }
}
BENCHMARK(BM_WriteRegString)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// For comparison: what surviving a power loss as well would cost (an fsync per commit).
void BM_WriteRegStringSynchronousFull(benchmark::State& state) {
    BenchStore store;
    sqlite3_exec(store.Db().Handle(), "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    const std::string keyPath = zelm::MailboxKeyPath("box5");
    std::string text = "pop.example.com";
    for (auto _ : state) {
        text.back() = static_cast<char>('a' + state.iterations() % 26);
        zelm::WriteRegString(store.Db(), keyPath, "Host", text);
    }
}
BENCHMARK(BM_WriteRegStringSynchronousFull)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ReadRegString(benchmark::State& state) {
    BenchStore store;
    const std::string keyPath = zelm::FilterKeyPath("box5", "filter5");
    for (auto _ : state) {
        benchmark::DoNotOptimize(zelm::ReadRegString(store.Db(), keyPath, "Rules", ""));
    }
}
BENCHMARK(BM_ReadRegString)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
