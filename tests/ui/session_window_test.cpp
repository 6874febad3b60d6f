#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "core/config_store.h"
#include "core/schema.h"
#include "tests/support/fake_server.h"
#include "tests/support/pop3_script.h"
#include "tests/ui/window_fixture.h"
#include "ui/tray_icon.h"

namespace zelm::test {
namespace {

/// What the window showed at one turn of the event loop during a session.
struct Seen {
    QString abortCaption;
    bool abortEnabled;
    bool abortRed;
    int trayImage;
};

class SessionWindow : public WindowFixture {
protected:
    /// The mailbox "home" on the fake server, enabled, user "u", password "pw".
    void AddMailbox(const FakeServer& server) {
        CreateMailbox(Store(), "home", {true, "100", "127.0.0.1", ""});
        const std::string key = MailboxKeyPath("home");
        WriteRegString(Store(), key, schema::Port, std::to_string(server.Port()));
        WriteRegString(Store(), key, schema::UserID, "u");
        WriteRegString(Store(), key, schema::Password, ScramblePassword("pw"));
    }

    /// Every session log of the home folder, one after the other.
    std::string SessionLogs() const {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(home.Dir())) {
            const std::string name = entry.path().filename().string();
            if (name.size() == 7 && name.ends_with(".log")) text += home.Read(name);
        }
        return text;
    }

    /// Runs action at every turn of the event loop (every 5 ms) while it lives.
    class EveryTurn {
    public:
        explicit EveryTurn(std::function<void()> action) {
            QObject::connect(&m_timer, &QTimer::timeout, std::move(action));
            m_timer.start(5);
        }

    private:
        QTimer m_timer;
    };

    /// The abort button and the tray as shown now.
    Seen Look() {
        auto* abort = Find<QPushButton>("butAbort");
        return {abort->text(), abort->isEnabled(), abort->styleSheet().contains("255, 0, 0"),
                Window().Tray().ShownImage()};
    }
};

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
        ++count;
    return count;
}

TEST_F(SessionWindow, ManualStartRunsASessionShowingItAndEndsIdle) {
    FakeServer server(JoinScripts(
        {Pop3LoginScript("u", 1, 150), Pop3MessageScript(1, "id-1", 150), Pop3QuitScript()}));
    AddMailbox(server);
    Start();
    std::vector<Seen> seen;
    bool pressedAgain = false;
    {
        const EveryTurn watch([&] {
            seen.push_back(Look());
            // A second start during the run is refused and writes nothing.
            if (!pressedAgain) {
                pressedAgain = true;
                Click("butStart");
            }
        });
        Click("butStart");
    }
    EXPECT_TRUE(server.Finish()) << server.Failure();

    ASSERT_FALSE(seen.empty());
    const bool showedPress = std::any_of(seen.begin(), seen.end(), [](const Seen& s) {
        return s.abortCaption == "Press to abort" && s.abortEnabled && s.abortRed;
    });
    EXPECT_TRUE(showedPress);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(),
                            [](const Seen& s) { return s.abortEnabled && s.trayImage >= 1; }));
    std::set<int> images;
    for (const Seen& s : seen)
        images.insert(s.trayImage);
    EXPECT_GE(images.size(), 2u) << "the tray icon did not cycle";

    const Seen after = Look();
    EXPECT_EQ(after.abortCaption, "Idle");
    EXPECT_FALSE(after.abortEnabled);
    EXPECT_FALSE(after.abortRed);
    EXPECT_EQ(after.trayImage, 0);
    auto* panel = Find<QLabel>("pnlStatus1");
    EXPECT_EQ(panel->text(), "Disconnected");
    EXPECT_EQ(panel->accessibleName(), "Status panel 1: Disconnected");

    const std::string log = SessionLogs();
    EXPECT_EQ(Count(log, "Session Start"), 1);
    EXPECT_EQ(Count(log, "Session End"), 1);
    EXPECT_NE(log.find("Summary(home): Tot:1 New:1"), std::string::npos) << log;
}

TEST_F(SessionWindow, TheAbortButtonEndsTheSessionAfterTheCurrentMessage) {
    // Pressed during the login: message 1 is finished, 2 and 3 are never asked for.
    FakeServer server(JoinScripts(
        {Pop3LoginScript("u", 3, 200), Pop3MessageScript(1, "id-1"), Pop3QuitScript()}));
    AddMailbox(server);
    Start();
    std::vector<QString> captions;
    {
        const EveryTurn watch([&] {
            auto* abort = Find<QPushButton>("butAbort");
            captions.push_back(abort->text());
            if (abort->isEnabled() && captions.size() == 3) Click("butAbort");
        });
        Click("butStart");
    }
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_NE(std::find(captions.begin(), captions.end(), "Aborting session..."), captions.end());
    EXPECT_NE(SessionLogs().find("Summary(home): Tot:1 "), std::string::npos) << SessionLogs();
    EXPECT_EQ(Find<QPushButton>("butAbort")->text(), "Idle");
}

TEST_F(SessionWindow, ExitDuringASessionLetsItEndCleanlyThenQuits) {
    FakeServer server(JoinScripts(
        {Pop3LoginScript("u", 2, 200), Pop3MessageScript(1, "id-1"), Pop3QuitScript()}));
    AddMailbox(server);
    Start();
    QSignalSpy quit(&Window(), &TfrmMain::quitRequested);
    {
        bool pressed = false;
        const EveryTurn watch([&] {
            if (!pressed && Find<QPushButton>("butAbort")->isEnabled()) {
                pressed = true;
                Click("butExit");
                EXPECT_EQ(quit.count(), 0) << "quit before the session ended";
            }
        });
        Click("butStart");
    }
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_NE(SessionLogs().find("Session End"), std::string::npos);
    EXPECT_NE(home.Read("home.dat").find("id-1"), std::string::npos) << "Cache not saved";
    Window().move(70, 60);
    Stop();
    EXPECT_EQ(StoredInteger("Left"), 70);
}

TEST_F(SessionWindow, TheEventLoopKeepsTurningWhileASlowServerKeepsTheSessionWaiting) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 2, 250), Pop3MessageScript(1, "id-1", 250),
                                   Pop3MessageScript(2, "id-2", 250), Pop3QuitScript()}));
    AddMailbox(server);
    Start();
    using Clock = std::chrono::steady_clock;
    Clock::time_point last{};
    Clock::duration longest{};
    int turns = 0;
    {
        const EveryTurn watch([&] {
            const auto now = Clock::now();
            if (turns++ > 0) longest = std::max(longest, now - last);
            last = now;
        });
        Click("butStart");
    }
    EXPECT_TRUE(server.Finish()) << server.Failure();
    const auto longestMs = std::chrono::duration_cast<std::chrono::milliseconds>(longest).count();
    RecordProperty("longest_gap_ms", static_cast<int>(longestMs));
    EXPECT_GT(turns, 50);
    EXPECT_LT(longestMs, 100);
}

TEST_F(SessionWindow, TheTimerStartsASessionAndRestartsAfterItsEnd) {
    FakeServer server(JoinScripts({Pop3LoginScript("u", 0), Pop3QuitScript()}));
    AddMailbox(server);
    StorePosition();
    StoreString("SessionInterval", "1");
    Start();
    Click("butTimer");
    EXPECT_TRUE(WaitFor([&] { return SessionLogs().find("Session End") != std::string::npos; }));
    EXPECT_TRUE(server.Finish()) << server.Failure();
    auto* timer = Find<QTimer>("SessionTimer");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
}

} // namespace
} // namespace zelm::test
