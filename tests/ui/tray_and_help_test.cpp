#include <filesystem>

#include <QAction>
#include <QMenu>
#include <QTest>

#include "tests/ui/window_fixture.h"
#include "ui/help.h"
#include "ui/tray_icon.h"

namespace zelm::test {
namespace {

using TrayAndHelp = WindowFixture;

TEST_F(TrayAndHelp, TheTrayMenuHoldsItsItemsInOrder) {
    Start();
    QStringList items;
    for (QAction* action : Window().Tray().Menu()->actions())
        items.append(action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(items, QStringList({"Help", "-", "Restore", "Timer ON", "-", "Exit"}));
}

TEST_F(TrayAndHelp, TheAnimationRunsFromImageOneAndRestsOnImageZero) {
    TrayIcon tray;
    tray.SetAnimation(true);
    EXPECT_EQ(tray.ShownImage(), 1);
    EXPECT_TRUE(WaitFor([&] { return tray.ShownImage() == 2; }, 1000));
    tray.SetAnimation(false);
    EXPECT_EQ(tray.ShownImage(), 0);
    QTest::qWait(250);
    EXPECT_EQ(tray.ShownImage(), 0);
}

TEST_F(TrayAndHelp, RestoreBringsAMinimizedWindowBack) {
    Start();
    Window().showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Window().isMinimized(); }));
    Find<QAction>("mnuRestore")->trigger();
    EXPECT_TRUE(WaitFor([&] { return !Window().isMinimized() && Window().isVisible(); }));
}

TEST_F(TrayAndHelp, HelpOpensTheMainTopicInTheBrowser) {
    Start();
    Click("butHelp");
    Find<QAction>("mnuHelp")->trigger();
    ASSERT_EQ(dialogs.opened.size(), 2u);
    for (const QUrl& url : dialogs.opened) {
        EXPECT_TRUE(url.isLocalFile());
        EXPECT_TRUE(url.path().endsWith("/help.html")) << url.toString().toStdString();
        EXPECT_EQ(url.fragment(), "topic10");
    }
}

TEST_F(TrayAndHelp, TheHelpPageIsFoundBesideTheProgramOrInItsShareFolder) {
    EXPECT_TRUE(FindHelpPage(ZELM_BUILD_APP_DIR).endsWith("/help.html"));
    std::filesystem::create_directories(home.File("bin"));
    std::filesystem::create_directories(home.File("share/zelm"));
    home.Write("share/zelm/help.html", "<html></html>");
    EXPECT_EQ(FindHelpPage(QString::fromStdString(home.File("bin"))),
              QString::fromStdString(home.File("share/zelm/help.html")));
}

} // namespace
} // namespace zelm::test
