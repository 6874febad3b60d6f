#include <QTabWidget>

#include "tests/ui/window_fixture.h"

namespace zelm::test {
namespace {

using MainWindow = WindowFixture;

TEST_F(MainWindow, ShowsTheSixPagesInOrderWithTheMailboxesPageActive) {
    Start();
    auto* tabs = Find<QTabWidget>("pgcMain");
    ASSERT_NE(tabs, nullptr);
    const QStringList captions = {"Mailboxes", "Lists",       "Filters",
                                  "Options",   "Interactive", "About"};
    const QStringList names = {"tabMailboxes", "tabLists",       "tabFilters",
                               "tabOptions",   "tabInteractive", "tabAbout"};
    ASSERT_EQ(tabs->count(), captions.size());
    for (int i = 0; i < tabs->count(); ++i) {
        EXPECT_EQ(tabs->tabText(i), captions[i]);
        EXPECT_EQ(tabs->widget(i)->objectName(), names[i]);
    }
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(Window().windowTitle(), "ZELM v1.0.0 - POP3 mail processor");
}

} // namespace
} // namespace zelm::test
