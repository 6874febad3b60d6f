#include <fstream>
#include <iterator>

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/ui/window_fixture.h"

namespace zelm::test {
namespace {

using OptionsPage = WindowFixture;

std::string ReadSourceFile(const std::string& name) {
    std::ifstream in(std::string(ZELM_SOURCE_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The colour the button shows at the middle of its left edge, where no caption is drawn.
QColor ShownColour(QPushButton* button) {
    return button->grab().toImage().pixelColor(3, button->height() / 2);
}

TEST_F(OptionsPage, TheTimerButtonSwitchesTheTimerAndTypingChangesItsPeriodAtOnce) {
    StorePosition();
    StoreString("SessionInterval", "30");
    Start();
    auto* button = Find<QPushButton>("butTimer");
    auto* timer = Find<QTimer>("SessionTimer");
    auto* trayItem = Find<QAction>("mnuTimerON");
    EXPECT_EQ(button->text(), "Timer is OFF");
    EXPECT_EQ(ShownColour(button), QColor(0, 128, 0));

    Click("butTimer");
    EXPECT_EQ(button->text(), "Timer is ON");
    EXPECT_EQ(ShownColour(button), QColor(0, 255, 0));
    EXPECT_TRUE(trayItem->isChecked());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 30000);

    // Each keystroke takes effect: typing 45 over 30 changes the period without leaving.
    auto* interval = Find<QLineEdit>("edtProcInterval");
    interval->setFocus();
    interval->selectAll();
    QTest::keyClicks(interval, "45");
    EXPECT_EQ(timer->interval(), 45000);
    EXPECT_EQ(StoredString("SessionInterval"), "45");

    // Cleared, the field stops the ticks while the button still says the timer is on.
    QTest::keyClick(interval, Qt::Key_Backspace);
    QTest::keyClick(interval, Qt::Key_Backspace);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(button->text(), "Timer is ON");

    Click("butTimer");
    EXPECT_EQ(button->text(), "Timer is OFF");
    EXPECT_FALSE(trayItem->isChecked());
}

TEST_F(OptionsPage, AnIntervalThatIsNotAPositiveNumberLeavesTheTimerOff) {
    Start();
    for (const char* text : {"0", "abc", "-5", ""}) {
        SCOPED_TRACE(text);
        TypeAndLeave("edtProcInterval", text);
        Click("butTimer");
        EXPECT_FALSE(Window().TimerOn());
        EXPECT_FALSE(Find<QTimer>("SessionTimer")->isActive());
        EXPECT_EQ(StoredString("SessionInterval"), text);
    }
}

TEST_F(OptionsPage, TheTrayItemSwitchesTheTimerLikeTheButton) {
    Start();
    Find<QAction>("mnuTimerON")->trigger();
    EXPECT_TRUE(Window().TimerOn());
    EXPECT_EQ(Find<QTimer>("SessionTimer")->interval(), 60000);
    Find<QAction>("mnuTimerON")->trigger();
    EXPECT_FALSE(Window().TimerOn());
}

TEST_F(OptionsPage, MaxAttemptsIsStoredAsTypedWhenLeft) {
    Start();
    auto* field = Find<QLineEdit>("edtMaxAttempts");
    EXPECT_EQ(field->toolTip(), "0 = no maximum");
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "7x");
    EXPECT_EQ(StoredString("MaxAttempts"), std::nullopt);
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_EQ(StoredString("MaxAttempts"), "7x");
    // A session asks the window for the field's text.
    EXPECT_EQ(App().Context().ui.MaxAttemptsText(), "7x");
}

TEST_F(OptionsPage, TheBoxesAreStoredWhenClicked) {
    Start();
    const struct {
        const char* box;
        const char* value;
    } boxes[] = {{"chkTimerON", "TimerON"},
                 {"chkMinimized", "Minimized"},
                 {"chkFastListing", "FastListing"}};
    for (const auto& [box, value] : boxes) {
        SCOPED_TRACE(box);
        Click(box);
        EXPECT_EQ(StoredInteger(value), 1);
        Click(box);
        EXPECT_EQ(StoredInteger(value), 0);
    }
}

TEST_F(OptionsPage, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
    Start();
    auto* box = Find<QCheckBox>("chkLaunch");
    EXPECT_EQ(box->text().remove('&'), "Launch at login");
    const std::string entry = "config/autostart/zelm.desktop";

    Click("chkLaunch");
    EXPECT_EQ(StoredInteger("Launch"), 1);
    // The installed desktop entry, started with this program on this home folder.
    std::string expected = ReadSourceFile("app/zelm.desktop");
    const std::string exec = "\nExec=zelm\n";
    ASSERT_NE(expected.find(exec), std::string::npos);
    expected.replace(expected.find(exec), exec.size(),
                     "\nExec=/opt/zelm/bin/zelm --home " + home.Dir() + "\n");
    EXPECT_EQ(home.Read(entry), expected + "X-GNOME-Autostart-enabled=true\n");

    Click("chkLaunch");
    EXPECT_EQ(StoredInteger("Launch"), 0);
    EXPECT_FALSE(home.Exists(entry));

    // A stored true writes the entry again at start-up, with the program's current path.
    Stop();
    StorePosition();
    StoreInteger("Launch", 1);
    Start();
    EXPECT_TRUE(Find<QCheckBox>("chkLaunch")->isChecked());
    EXPECT_TRUE(home.Exists(entry));
}

} // namespace
} // namespace zelm::test
