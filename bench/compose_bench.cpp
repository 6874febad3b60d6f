// Encoding a 50 MB attachment (time, and memory against the file's size) and sending a 20 MB
// message to the real SMTP sink of tests/support/servers.sh (scripts/bench starts it).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/engine_context.h"
#include "core/silent_engine_ui.h"
#include "messages/compose.h"
#include "protocols/smtp.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kAttachmentBytes = 50u << 20;
constexpr std::size_t kMessageBytes = 20u << 20;

/// A temporary home folder, removed with everything in it.
class BenchHome {
public:
    BenchHome() {
        std::string pattern = (fs::temp_directory_path() / "zelm-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern + "/";
    }
    ~BenchHome() { fs::remove_all(path); }
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;

    std::string path;
};

double Megabytes(std::size_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

void BM_EncodeFileBase64(benchmark::State& state) {
    BenchHome home;
    const std::string file = home.path + "attachment.bin";
    {
        std::string bytes(kAttachmentBytes, '\0');
        std::mt19937 random(3);
        for (auto& b : bytes)
            b = static_cast<char>(random());
        std::ofstream(file, std::ios::binary) << bytes;
    }
    std::size_t heldBytes = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        std::vector<std::string> lines;
        zelm::EncodeFileBase64(file, lines);
        heldBytes = mallinfo2().uordblks - before;
        benchmark::DoNotOptimize(lines.data());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kAttachmentBytes));
    // Heap held by the encoded lines, and the process's peak, both against the file's size.
    state.counters["lines_MB"] = Megabytes(heldBytes);
    state.counters["lines_per_file"] = static_cast<double>(heldBytes) / kAttachmentBytes;
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_EncodeFileBase64)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SmtpSend20MB(benchmark::State& state) {
    const char* port = std::getenv("ZELM_TEST_SMTP_PORT");
    if (port == nullptr) {
        state.SkipWithError("ZELM_TEST_SMTP_PORT is not set: run it through scripts/bench");
        return;
    }
    BenchHome home;
    zelm::SilentEngineUi ui;
    zelm::SettingsDb db(home.path + "settings.db");
    zelm::EngineContext context(home.path, db, ui);
    context.currentMailbox = "bench";
    zelm::SmtpSender sender(context);
    sender.host = "127.0.0.1";
    sender.port = std::atoi(port);
    sender.senderAddress = "bench@example.org";

    // Base64-like lines with a dot at the start of every tenth, as a long forwarded message.
    std::vector<std::string> message = {"Subject: bench", ""};
    std::size_t size = 0;
    for (int i = 0; size < kMessageBytes; ++i) {
        message.push_back((i % 10 == 0 ? "." : "") +
                          std::string(76, static_cast<char>('A' + i % 26)));
        size += message.back().size() + 2;
    }
    for (auto _ : state) {
        zelm::SmtpSendMessage(sender, {"sink@example.com"}, message);
        if (sender.sendStatus != zelm::SendStatus::Sent) {
            state.SkipWithError("the SMTP sink did not accept the message");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_SmtpSend20MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
