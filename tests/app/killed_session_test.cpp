#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/schema.h"
#include "messages/data_file.h"
#include "tests/app/zelm_process.h"
#include "tests/support/real_servers.h"
#include "tests/support/test_home.h"

// The real `zelm session` killed (SIGKILL, as a crash, a power cut or a logout does) at a
// handful of points while it works through a few hundred messages on the test Dovecot (user
// u37), then run to its end: nothing is done twice but the message in progress at each kill.
namespace zelm {
namespace {

using test::RealMailbox;
using test::WaitFor;
using test::Zelm;

constexpr int kMessages = 300;

std::string Subject(int n) {
    // Every seventh message is deleted by a filter.
    return "msg-" + std::to_string(n) + (n % 7 == 0 ? " del" : "");
}

/// The lines of a file written with CR LF.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class KilledSessionTest : public ::testing::Test {
protected:
    KilledSessionTest() : user("u37") {
        user.Clear();
        for (int n = 1; n <= kMessages; ++n) {
            user.Drop("From: Sender <sender@example.com>\r\nSubject: " + Subject(n) +
                      "\r\nTo: me@example.com\r\n\r\nBody of message " + std::to_string(n) +
                      "\r\n");
        }
        SettingsDb db(home.File(SettingsFileName));
        const std::string key = MailboxKeyPath("box");
        WriteRegBool(db, key, schema::MailboxEnabled, true);
        WriteRegString(db, key, schema::Host, "127.0.0.1");
        WriteRegString(db, key, schema::Port, std::to_string(test::RealPop3Port()));
        WriteRegString(db, key, schema::UserID, user.User());
        WriteRegString(db, key, schema::Password, ScramblePassword(test::kRealPassword));
        WriteRegString(db, key, schema::Cache, "10000");
        WriteRegString(db, key, schema::Operation, "save\r\ndel\r\n");
        WriteRegString(db, FilterKeyPath("box", "save"), schema::Rules,
                       "      From contains `@`\r\n");
        WriteRegString(db, FilterKeyPath("box", "save"), schema::Actions, "Save data: d00001\r\n");
        WriteRegString(db, FilterKeyPath("box", "del"), schema::Rules,
                       "      Subject contains ` del`\r\n");
        WriteRegString(db, FilterKeyPath("box", "del"), schema::Actions, "Delete message\r\n");
        home.Write("d00001.dat", "saved.txt\r\n{Subject}\r\n");
    }

    std::vector<std::string> Session() const { return {"--home", home.Path(), "session"}; }
    std::size_t SavedLines() const { return Lines(home.Read("saved.txt")).size(); }

    test::TempHome home;
    RealMailbox user;
};

TEST_F(KilledSessionTest, RerunRepeatsAtMostTheMessageInProgressAtEachKill) {
    // Kill points: the number of saved lines at which the running session is killed.
    std::mt19937 random(11);
    std::uniform_int_distribution<std::size_t> pick(1, kMessages - 20);
    std::vector<std::size_t> points;
    for (int i = 0; i < 5; ++i)
        points.push_back(pick(random));
    std::sort(points.begin(), points.end());

    for (const std::size_t point : points) {
        SCOPED_TRACE(point);
        Zelm zelm(Session());
        ASSERT_TRUE(WaitFor([&] { return SavedLines() >= point; }, 60000, 1));
        zelm.Signal(SIGKILL);
        ASSERT_EQ(zelm.Finish(), 128 + SIGKILL);
    }
    Zelm rerun(Session());
    ASSERT_EQ(rerun.Finish(120000), 0) << rerun.err;

    // Every message's line is there; a line twice is a message in progress at a kill.
    std::map<std::string, int> saved;
    for (const auto& line : Lines(home.Read("saved.txt")))
        ++saved[line];
    int repeated = 0;
    for (int n = 1; n <= kMessages; ++n) {
        const int count = saved[Subject(n)];
        EXPECT_GE(count, 1) << Subject(n);
        EXPECT_LE(count, 2) << Subject(n);
        repeated += count > 1 ? 1 : 0;
    }
    EXPECT_EQ(saved.size(), static_cast<std::size_t>(kMessages));
    EXPECT_LE(repeated, static_cast<int>(points.size()));
    // Every deletion was committed, and every message's id is in the Cache once.
    EXPECT_EQ(user.Count(), static_cast<std::size_t>(kMessages - kMessages / 7));
    const auto cache =
        ReadSectionLines(DataFilePath(home.Path(), "box"), std::string(kSectionCache));
    EXPECT_EQ(cache.size(), static_cast<std::size_t>(kMessages));
    EXPECT_EQ(std::set<std::string>(cache.begin(), cache.end()).size(), cache.size());
    EXPECT_FALSE(home.Exists("box.jnl")) << home.Read("box.jnl");
}

} // namespace
} // namespace zelm
