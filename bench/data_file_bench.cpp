// Rewriting and reading the Cache section of a mailbox's data file. Both must grow linearly
// with the file: compare the 100 000-line and the 1 000 000-line runs. And what the journal
// costs a session per message: one record appended.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "messages/cache_journal.h"
#include "messages/data_file.h"

namespace {

namespace fs = std::filesystem;

// A home folder with one data file: small lists around a Cache of the given length.
class DataFileFixture {
public:
    explicit DataFileFixture(std::size_t cacheLines) {
        std::string pattern = (fs::temp_directory_path() / "zelm-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_home = pattern + "/";
        path = m_home + "home.dat";
        for (std::size_t i = 0; i < cacheLines; ++i)
            cache.push_back("UID" + std::to_string(1000000 + i) + "-a8f3c2d19e");
        zelm::WriteSection(path, "Accept List", {"friend@example.com", "example.org"});
        zelm::WriteSection(path, "Cache", cache);
        zelm::WriteSection(path, "Reject List", {"spam", "casino"});
    }
    ~DataFileFixture() { fs::remove_all(m_home); }
    DataFileFixture(const DataFileFixture&) = delete;
    DataFileFixture& operator=(const DataFileFixture&) = delete;

    std::string path;
    std::vector<std::string> cache;

private:
    std::string m_home;
};

void BM_WriteSectionCache(benchmark::State& state) {
    DataFileFixture fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        zelm::WriteSection(fixture.path, "Cache", fixture.cache);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(fixture.path)));
}

void BM_ReadSectionCache(benchmark::State& state) {
    DataFileFixture fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(zelm::ReadSectionLines(fixture.path, "Cache"));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(fixture.path)));
}

// The section read as one text, without splitting it into lines.
void BM_ReadSectionText(benchmark::State& state) {
    DataFileFixture fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(zelm::ReadSection(fixture.path, "Reject List"));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(fixture.path)));
}

// The record a session appends to the journal as each message is finished.
void BM_JournalRecordCached(benchmark::State& state) {
    DataFileFixture fixture(0);
    zelm::JournalWriter journal;
    journal.Start(fixture.path + ".jnl");
    std::size_t n = 0;
    for (auto _ : state)
        journal.RecordCached("00001a2f" + std::to_string(++n));
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_JournalRecordCached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteSectionCache)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSectionCache)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSectionText)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
