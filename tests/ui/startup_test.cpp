#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include "core/config_store.h"
#include "tests/ui/window_fixture.h"
#include "ui/mailboxes_page.h"

namespace zelm::test {
namespace {

using StartUp = WindowFixture;

TEST_F(StartUp, AFirstRunShowsThePageDefaultsAndTheExitStoresThePosition) {
    Start();
    EXPECT_EQ(Find<QLineEdit>("edtProcInterval")->text(), "60");
    EXPECT_EQ(Find<QLineEdit>("edtMaxAttempts")->text(), "0");
    for (const char* box : {"chkTimerON", "chkMinimized", "chkLaunch", "chkFastListing"})
        EXPECT_FALSE(Find<QCheckBox>(box)->isChecked()) << box;
    EXPECT_FALSE(Window().TimerOn());
    EXPECT_EQ(Find<QComboBox>("cmbMailbox")->count(), 0);
    EXPECT_EQ(App().Context().currentMailbox, "");
    // Nothing of the options was read, so nothing was stored again either.
    EXPECT_EQ(StoredString("SessionInterval"), std::nullopt);
    Window().move(120, 90);
    Stop();

    EXPECT_EQ(StoredInteger("Left"), 120);
    EXPECT_EQ(StoredInteger("Top"), 90);
    EXPECT_EQ(StoredInteger("LastMailbox"), -1);

    // Now the options are read: the interval was never stored, so it shows (and stores) "0".
    Start();
    EXPECT_EQ(Find<QLineEdit>("edtProcInterval")->text(), "0");
    EXPECT_EQ(Find<QLineEdit>("edtMaxAttempts")->text(), "2");
    EXPECT_EQ(StoredString("SessionInterval"), "0");
    EXPECT_EQ(Window().pos(), QPoint(120, 90));
}

TEST_F(StartUp, StoredOptionsAreShown) {
    StorePosition();
    StoreString("SessionInterval", "90");
    StoreString("MaxAttempts", "5");
    StoreInteger("Minimized", 0);
    StoreInteger("TimerON", 1);
    StoreInteger("FastListing", 1);
    Start();
    EXPECT_TRUE(Find<QCheckBox>("chkFastListing")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("edtProcInterval")->text(), "90");
    EXPECT_EQ(Find<QLineEdit>("edtMaxAttempts")->text(), "5");
    EXPECT_TRUE(Find<QCheckBox>("chkTimerON")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkMinimized")->isChecked());
    EXPECT_TRUE(Window().TimerOn());
}

TEST_F(StartUp, TheTimerStartsOnlyWithAPositiveInterval) {
    const struct {
        const char* interval;
        bool on;
    } cases[] = {{"0", false}, {"abc", false}, {"-5", false}, {"", false}, {"30", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        StorePosition();
        StoreInteger("TimerON", 1);
        StoreString("SessionInterval", c.interval);
        Start();
        EXPECT_EQ(Window().TimerOn(), c.on);
        auto* timer = Find<QTimer>("SessionTimer");
        EXPECT_EQ(timer->isActive(), c.on);
        if (c.on) {
            EXPECT_EQ(timer->interval(), 30000);
        }
        Stop();
    }
}

TEST_F(StartUp, AWrongTypedOptionEndsOnlyTheOptionsGroup) {
    StorePosition();
    StoreString("SessionInterval", "45");
    StoreString("TimerON", "yes"); // a flag stored as text: the options group ends there
    CreateMailbox(Store(), "home", {});
    Start();
    EXPECT_EQ(Find<QLineEdit>("edtProcInterval")->text(), "60");
    // The mailbox list is a group of its own.
    EXPECT_EQ(Find<QComboBox>("cmbMailbox")->count(), 1);
}

TEST_F(StartUp, LastMailboxSelectsByPositionInTheSortedList) {
    for (const char* name : {"work", "Home", "archive"})
        CreateMailbox(Store(), name, {});
    const struct {
        int lastMailbox;
        const char* selected;
    } cases[] = {{1, "Home"}, {0, "archive"}, {3, ""}, {-1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastMailbox);
        StorePosition();
        StoreInteger("LastMailbox", c.lastMailbox);
        Start();
        auto* mailboxes = Find<QComboBox>("cmbMailbox");
        EXPECT_EQ(mailboxes->count(), 3);
        EXPECT_EQ(mailboxes->itemText(0), "archive");
        EXPECT_EQ(mailboxes->itemText(2), "work");
        EXPECT_EQ(Window().Mailboxes().SelectedMailbox(), c.selected);
        EXPECT_EQ(App().Context().currentMailbox, c.selected);
        Stop();
        EXPECT_EQ(StoredInteger("LastMailbox"), c.selected[0] ? c.lastMailbox : -1);
    }
}

TEST_F(StartUp, AFirstRunSelectsTheFirstMailbox) {
    CreateMailbox(Store(), "b", {});
    CreateMailbox(Store(), "a", {});
    Start();
    EXPECT_EQ(App().Context().currentMailbox, "a");
}

TEST_F(StartUp, APositionNoScreenShowsKeepsTheBuiltInPlace) {
    Start();
    const QPoint builtIn = Window().pos();
    Stop();
    StorePosition(-20000, -20000);
    Start();
    EXPECT_EQ(Window().pos(), builtIn);
}

TEST_F(StartUp, StartMinimizedWithoutATrayMinimizesTheWindow) {
    StorePosition();
    StoreInteger("Minimized", 1);
    Start();
    EXPECT_TRUE(Window().isMinimized());
    EXPECT_TRUE(Window().isVisible());
}

} // namespace
} // namespace zelm::test
