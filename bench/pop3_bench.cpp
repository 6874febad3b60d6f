// The POP3 client against the real Dovecot on loopback (started by scripts/bench): a login with
// UIDL n, LIST n and TOP n 0 over 2000 messages of about 3 KB, and RETR of a 20 MB message.
// User u40 belongs to this benchmark.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/config_store.h"
#include "core/engine_context.h"
#include "core/silent_engine_ui.h"
#include "protocols/pop3.h"

namespace {

namespace fs = std::filesystem;
using namespace zelm;

constexpr int kSmallMessages = 2000;
constexpr std::size_t kLargeBytes = 20u << 20;

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string SmallMessage(int n) {
    std::string message = "From: Sender " + std::to_string(n) +
                          " <sender@example.org>\r\nTo: me@example.org\r\nSubject: message " +
                          std::to_string(n) + "\r\nMessage-Id: <" + std::to_string(n) +
                          "@example.org>\r\n\r\n";
    while (message.size() < 3000)
        message += "The quick brown fox jumps over the lazy dog, again and again and again.\r\n";
    return message;
}

std::string LargeMessage() {
    std::string message = "From: big@example.org\r\nSubject: large\r\n\r\n";
    message.reserve(kLargeBytes + 100);
    const std::string line(76, 'x');
    while (message.size() < kLargeBytes)
        message += line + "\r\n";
    return message;
}

// The mailbox u40 with the benchmark's messages, dropped once for the whole run.
class Fixture {
public:
    Fixture() {
        m_port = std::atoi(Variable("ZELM_TEST_POP3_PORT").c_str());
        const std::string root = Variable("ZELM_TEST_MAILROOT");
        if (m_port <= 0 || root.empty()) {
            m_problem = "ZELM_TEST_POP3_PORT / ZELM_TEST_MAILROOT not set: run scripts/bench";
            return;
        }
        m_maildir = root + "/u40/Maildir";
        Clear();
        for (int n = 1; n <= kSmallMessages; ++n)
            Drop(n, SmallMessage(n));
        m_largeSize = LargeMessage().size();
        Drop(kSmallMessages + 1, LargeMessage());

        char pattern[] = "/tmp/zelm-bench.XXXXXX";
        m_home = std::string(::mkdtemp(pattern)) + "/";
        m_db = std::make_unique<SettingsDb>(m_home + "settings.db");
        m_context = std::make_unique<EngineContext>(m_home, *m_db, m_ui);
        m_pop3 = std::make_unique<Pop3Client>(*m_context);
        // The first login makes Dovecot index the new messages; that is not the client's time.
        if (!Open() || m_pop3->messageTotal != kSmallMessages + 1) {
            m_problem = "Dovecot did not show the benchmark's messages";
        }
        Pop3Quit(*m_pop3);
    }
    ~Fixture() {
        if (!m_maildir.empty()) Clear();
        m_pop3.reset();
        m_context.reset();
        m_db.reset();
        if (!m_home.empty()) fs::remove_all(m_home);
    }

    bool Open() {
        m_pop3->connection.SetEndpoint("127.0.0.1");
        m_pop3->connection.SetPort(m_port);
        return Pop3Open(*m_pop3, "u40", "pw");
    }

    Pop3Client& Client() { return *m_pop3; }
    const std::string& Problem() const { return m_problem; }
    std::size_t LargeSize() const { return m_largeSize; }

private:
    void Clear() {
        for (const char* sub : {"new", "cur", "tmp"}) {
            for (const auto& entry : fs::directory_iterator(m_maildir + "/" + sub))
                fs::remove_all(entry.path());
        }
    }
    void Drop(int n, const std::string& content) {
        char name[64];
        std::snprintf(name, sizeof name, "1000000000.%06d.zelmbench", n);
        const std::string temporary = m_maildir + "/tmp/" + name;
        std::ofstream(temporary, std::ios::binary) << content;
        ::chmod(temporary.c_str(), 0666);
        fs::rename(temporary, m_maildir + "/new/" + name);
    }

    int m_port = 0;
    std::string m_maildir;
    std::string m_home;
    std::string m_problem;
    std::size_t m_largeSize = 0;
    SilentEngineUi m_ui;
    std::unique_ptr<SettingsDb> m_db;
    std::unique_ptr<EngineContext> m_context;
    std::unique_ptr<Pop3Client> m_pop3;
};

Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

void BM_Pop3LoginUidlListTop(benchmark::State& state) {
    auto& fixture = TheFixture();
    if (!fixture.Problem().empty()) {
        state.SkipWithError(fixture.Problem().c_str());
        return;
    }
    auto& pop3 = fixture.Client();
    for (auto _ : state) {
        if (!fixture.Open()) {
            state.SkipWithError("login failed");
            return;
        }
        for (int n = 1; n <= kSmallMessages; ++n) {
            Pop3Uidl(pop3, n);
            Pop3List(pop3, n);
            Pop3Top(pop3, n);
        }
        Pop3Quit(pop3);
    }
    state.counters["messages/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSmallMessages, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Pop3LoginUidlListTop)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Pop3Retr20MB(benchmark::State& state) {
    auto& fixture = TheFixture();
    if (!fixture.Problem().empty()) {
        state.SkipWithError(fixture.Problem().c_str());
        return;
    }
    auto& pop3 = fixture.Client();
    for (auto _ : state) {
        if (!fixture.Open() || !Pop3Retr(pop3, kSmallMessages + 1)) {
            state.SkipWithError("RETR failed");
            return;
        }
        Pop3Quit(pop3);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fixture.LargeSize()));
}
BENCHMARK(BM_Pop3Retr20MB)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
