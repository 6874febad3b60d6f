#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "messages/data_file.h"
#include "tests/support/test_home.h"

// A process killed while it rewrites a data file or stores an outbox message (a crash, a power
// cut, a logout) leaves the old file or the new one, whole; never a mixture or a part.
namespace zelm {
namespace {

using Clock = std::chrono::steady_clock;

/// Runs write over and over in a child process and kills it (SIGKILL) after delay, so the kill
/// falls somewhere inside one of the writes; returns once the child is gone.
void KillWhileWriting(const std::function<void(int round)>& write,
                      std::chrono::microseconds delay) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int round = 1;; ++round)
            write(round);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
}

/// A handful of kill points from a fixed seed, within the first few writes of length each.
std::vector<std::chrono::microseconds> KillPoints(const std::function<void()>& write) {
    const auto start = Clock::now();
    write();
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<long> pick(length.count() / 2, length.count() * 4);
    std::vector<std::chrono::microseconds> points;
    for (int i = 0; i < 8; ++i)
        points.emplace_back(pick(random));
    return points;
}

std::vector<std::string> ManyLines(const std::string& prefix) {
    std::vector<std::string> lines;
    for (int i = 0; i < 50000; ++i)
        lines.push_back(prefix + std::to_string(i));
    return lines;
}

TEST(KilledWrites, DataFileRewriteLeavesTheOldOrTheNewFile) {
    test::TempHome home;
    const std::string path = DataFilePath(home.Path(), "home");
    const std::vector<std::vector<std::string>> caches = {ManyLines("one-id-"),
                                                          ManyLines("other-id-")};
    std::vector<std::string> contents;
    for (const auto& cache : caches) {
        WriteSection(path, kSectionAcceptList, {"friend"});
        WriteSection(path, kSectionCache, cache);
        contents.push_back(home.Read("home.dat"));
    }

    for (const auto point : KillPoints([&] { WriteSection(path, kSectionCache, caches[0]); })) {
        SCOPED_TRACE(point.count());
        KillWhileWriting([&](int round) { WriteSection(path, kSectionCache, caches[round % 2]); },
                         point);
        const std::string after = home.Read("home.dat");
        EXPECT_TRUE(after == contents[0] || after == contents[1]) << after.size() << " bytes";
    }
    // A temporary file left behind is no obstacle to the next write.
    WriteSection(path, kSectionCache, {"done"});
    EXPECT_EQ(ReadSectionLines(path, kSectionCache), std::vector<std::string>{"done"});
    EXPECT_EQ(ReadSectionLines(path, kSectionAcceptList), std::vector<std::string>{"friend"});
}

TEST(KilledWrites, OutboxMessageIsStoredWholeOrNotAtAll) {
    test::TempHome home;
    const std::string folder = OutboxFolder(home.Path(), "home");
    EnsureOutboxFolder(folder);
    const OutboxMessage message{1, {"a@example.com"}, ManyLines("line ")};

    for (const auto point :
         KillPoints([&] { ::unlink(WriteOutboxMessage(folder, message).c_str()); })) {
        SCOPED_TRACE(point.count());
        KillWhileWriting([&](int) { WriteOutboxMessage(folder, message); }, point);
        for (const auto& file : ListOutboxFiles(folder)) {
            EXPECT_EQ(ReadOutboxMessage(file).lines, message.lines);
            ::unlink(file.c_str());
        }
    }
}

TEST(KilledWrites, RetriedOutboxMessageIsInTheOutboxOnceAndWhole) {
    test::TempHome home;
    const std::string folder = OutboxFolder(home.Path(), "home");
    EnsureOutboxFolder(folder);
    const OutboxMessage message{1, {"a@example.com"}, ManyLines("line ")};
    WriteOutboxMessage(folder, message);
    const auto retry = [&](int attempts) {
        OutboxMessage next = message;
        next.attempts = attempts;
        ReplaceOutboxMessage(ListOutboxFiles(folder).at(0), next);
    };

    for (const auto point : KillPoints([&] { retry(1); })) {
        SCOPED_TRACE(point.count());
        KillWhileWriting(retry, point);
        const auto files = ListOutboxFiles(folder);
        ASSERT_EQ(files.size(), 1u);
        const OutboxMessage stored = ReadOutboxMessage(files[0]);
        EXPECT_EQ(stored.recipients, message.recipients);
        EXPECT_EQ(stored.lines, message.lines);
    }
}

} // namespace
} // namespace zelm
