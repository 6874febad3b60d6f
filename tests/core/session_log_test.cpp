#include "core/session_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <utime.h>

#include "core/zelm_error.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

// Local time decides names and days, so the tests fix the zone.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (old) m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (m_hadOld) {
            ::setenv("TZ", m_old.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    bool m_hadOld = false;
    std::string m_old;
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return ::timegm(&when);
}

int OpenDescriptors() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(LogTimestamp, EnglishNamesTwoDigitFieldsAndATrailingBlank) {
    ZoneGuard utc("UTC");
    struct Case {
        std::time_t moment;
        const char* expected;
    };
    const Case cases[] = {
        {Utc(2026, 12, 5, 15, 26, 13), "Sat,05Dec26 15:26:13 "},
        {Utc(1999, 6, 7, 10, 15, 2), "Mon,07Jun99 10:15:02 "},
        {Utc(2000, 1, 1, 0, 0, 0), "Sat,01Jan00 00:00:00 "},
        {Utc(2031, 9, 30, 23, 59, 59), "Tue,30Sep31 23:59:59 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LogTimestamp(c.moment), c.expected);
        EXPECT_EQ(std::string(c.expected).size(), 21u);
    }
}

TEST(LogTimestamp, UsesLocalTime) {
    ZoneGuard zone("EST5");
    EXPECT_EQ(LogTimestamp(Utc(2026, 12, 5, 3, 0, 0)), "Fri,04Dec26 22:00:00 ");
}

class SessionLogTest : public ::testing::Test {
protected:
    SessionLogTest() { SetNow(kMonday); }

    void SetNow(std::time_t now) {
        m_now = now;
        log.SetClock([now] { return now; });
    }
    // Gives a file the modification time of the moment.
    void Touch(const std::string& name, std::time_t moment) {
        utimbuf times{moment, moment};
        ASSERT_EQ(::utime(home.File(name).c_str(), &times), 0);
    }
    // One session writing one line; the files then carry the session's time as their
    // modification time, as they would had the clock been real.
    void Session(const std::string& line) {
        log.OpenSessionLogs();
        log.WriteSessionLine(line);
        log.CloseSessionLogs();
        Touch(log.LogTimestamp().substr(0, 3) + ".log", m_now);
        Touch("error.log", m_now);
    }

    // Monday 7 December 2026, 10:00 UTC.
    static constexpr std::time_t kMonday = 1796637600;
    ZoneGuard utc{"UTC"};
    std::time_t m_now = 0;
    test::TempHome home;
    test::RecordingUi ui;
    SessionLog log{home.Path(), ui};
};

TEST_F(SessionLogTest, FixtureMondayIsAMonday) {
    EXPECT_EQ(LogTimestamp(kMonday).substr(0, 3), "Mon");
}

TEST_F(SessionLogTest, FirstSessionCreatesBothFiles) {
    Session("Session Start");
    EXPECT_EQ(home.Read("Mon.log"), LogTimestamp(kMonday) + "Session Start\r\n");
    EXPECT_TRUE(home.Exists("error.log"));
    EXPECT_EQ(home.Read("error.log"), "");
    EXPECT_FALSE(home.Exists("Mon.log.old"));
    EXPECT_EQ(ui.sessionLines,
              std::vector<std::string>{LogTimestamp(kMonday) + "Session Start\r\n"});
}

TEST_F(SessionLogTest, SessionsOfOneDayShareTheFile) {
    Session("first");
    SetNow(kMonday + 3600);
    Session("second");
    EXPECT_EQ(home.Read("Mon.log"),
              LogTimestamp(kMonday) + "first\r\n" + LogTimestamp(kMonday + 3600) + "second\r\n");
}

TEST_F(SessionLogTest, AWeekLaterTheLogBecomesTheOldCopy) {
    home.Write("Mon.log.old", "two weeks ago\r\n");
    home.Write("Mon.log", "a week ago\r\n");
    Touch("Mon.log", kMonday - 7 * 86400);
    Session("today");
    EXPECT_EQ(home.Read("Mon.log.old"), "a week ago\r\n");
    EXPECT_EQ(home.Read("Mon.log"), LogTimestamp(kMonday) + "today\r\n");
}

TEST_F(SessionLogTest, ALogTouchedTodayIsAppendedTo) {
    home.Write("Mon.log", "written by something else\r\n");
    Touch("Mon.log", kMonday - 3600);
    Session("today");
    EXPECT_EQ(home.Read("Mon.log"),
              "written by something else\r\n" + LogTimestamp(kMonday) + "today\r\n");
    EXPECT_FALSE(home.Exists("Mon.log.old"));
}

TEST_F(SessionLogTest, ErrorLogStartsAfreshEachDay) {
    home.Write("error.log", "yesterday's error\r\n");
    Touch("error.log", kMonday - 86400);
    log.OpenSessionLogs();
    log.CloseSessionLogs();
    EXPECT_EQ(home.Read("error.log"), "");

    home.Write("error.log", "this morning's error\r\n");
    Touch("error.log", kMonday - 3600);
    log.OpenSessionLogs();
    log.WriteErrorLine("Pop3 USER: -ERR\r\n");
    log.CloseSessionLogs();
    EXPECT_EQ(home.Read("error.log"),
              "this morning's error\r\n" + LogTimestamp(kMonday) + "Pop3 USER: -ERR\r\n\r\n");
    EXPECT_EQ(ui.errorLines,
              std::vector<std::string>{LogTimestamp(kMonday) + "Pop3 USER: -ERR\r\n\r\n"});
}

TEST_F(SessionLogTest, RotationThatCannotRenameStillStartsAfresh) {
    // A non-empty folder in the way of the ".old" copy defeats both the delete and the rename.
    std::filesystem::create_directories(home.File("Mon.log.old/inside"));
    home.Write("Mon.log", "a week ago\r\n");
    Touch("Mon.log", kMonday - 7 * 86400);
    Session("today");
    EXPECT_EQ(home.Read("Mon.log"), LogTimestamp(kMonday) + "today\r\n");
}

TEST_F(SessionLogTest, ALogThatCannotBeOpenedRefusesWithNothingOpen) {
    for (const char* blocker : {"Mon.log", "error.log"}) {
        SCOPED_TRACE(blocker);
        test::TempHome other;
        SessionLog blocked(other.Path(), ui);
        blocked.SetClock([] { return kMonday; });
        // A folder where the log should be, dated today so it is not rotated away.
        std::filesystem::create_directory(other.File(blocker));
        utimbuf times{kMonday, kMonday};
        ASSERT_EQ(::utime(other.File(blocker).c_str(), &times), 0);
        const int before = OpenDescriptors();
        EXPECT_THROW(blocked.OpenSessionLogs(), ZelmError);
        EXPECT_FALSE(blocked.IsOpen());
        EXPECT_EQ(OpenDescriptors(), before);
    }
}

TEST_F(SessionLogTest, OutsideASessionOnlyErrorLinesAreWritten) {
    log.WriteSessionLine("dropped");
    log.WriteErrorLine("Pop3 RSET: -ERR\r\n");
    EXPECT_FALSE(home.Exists("Mon.log"));
    EXPECT_TRUE(ui.sessionLines.empty());
    EXPECT_EQ(home.Read("error.log"), LogTimestamp(kMonday) + "Pop3 RSET: -ERR\r\n\r\n");
    EXPECT_FALSE(log.IsOpen());
}

TEST_F(SessionLogTest, OutsideASessionTheErrorLogIsStillStartedAfreshEachDay) {
    home.Write("error.log", "yesterday's error\r\n");
    Touch("error.log", kMonday - 86400);
    log.WriteErrorLine("Pop3 TOP: -ERR");
    // Written today: the next line is appended.
    Touch("error.log", kMonday);
    log.WriteErrorLine("Pop3 RETR: -ERR");
    EXPECT_EQ(home.Read("error.log"), LogTimestamp(kMonday) + "Pop3 TOP: -ERR\r\n" +
                                          LogTimestamp(kMonday) + "Pop3 RETR: -ERR\r\n");
}

TEST_F(SessionLogTest, ASessionPastMidnightKeepsItsFile) {
    log.OpenSessionLogs();
    SetNow(kMonday + 86400);
    log.WriteSessionLine("after midnight");
    log.CloseSessionLogs();
    EXPECT_EQ(home.Read("Mon.log"), LogTimestamp(kMonday + 86400) + "after midnight\r\n");
    EXPECT_FALSE(home.Exists("Tue.log"));
}

} // namespace
} // namespace zelm
