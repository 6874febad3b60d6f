#include "tests/ui/window_fixture.h"

#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "ui/tray_icon.h"

namespace zelm::test {

WindowFixture::WindowFixture() : m_store(home.File(SettingsFileName)) {
    if (const char* saved = std::getenv("XDG_CONFIG_HOME")) {
        m_hadConfigHome = true;
        m_savedConfigHome = saved;
    }
    ::setenv("XDG_CONFIG_HOME", home.File("config").c_str(), 1);
}

WindowFixture::~WindowFixture() {
    m_app.reset();
    if (m_hadConfigHome) {
        ::setenv("XDG_CONFIG_HOME", m_savedConfigHome.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

void WindowFixture::Start() {
    m_app = std::make_unique<DesktopApp>(home.Path(), dialogs, "/opt/zelm/bin/zelm",
                                         ZELM_BUILD_APP_DIR);
    Window().ShowAtStart();
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
}

void WindowFixture::Stop() {
    m_app.reset();
}

QObject* WindowFixture::TrayMenu() {
    return Window().Tray().Menu();
}

void WindowFixture::TypeAndLeave(const QString& fieldName, const QString& text) {
    auto* field = Find<QLineEdit>(fieldName);
    ASSERT_NE(field, nullptr);
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(field, Qt::Key_Delete);
    } else {
        QTest::keyClicks(field, text);
    }
    QTest::keyClick(field, Qt::Key_Tab);
}

void WindowFixture::Click(const QString& name) {
    auto* button = Find<QAbstractButton>(name);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(4, button->height() / 2));
}

void WindowFixture::StorePosition(int left, int top) {
    StoreInteger("Left", left);
    StoreInteger("Top", top);
}

void WindowFixture::StoreInteger(const char* name, int value) {
    ConfigStore root(m_store);
    root.OpenKey(SettingsRoot, true);
    root.WriteInteger(name, value);
}

void WindowFixture::StoreString(const char* name, const std::string& text) {
    WriteRegString(m_store, SettingsRoot, name, text);
}

std::optional<int> WindowFixture::StoredInteger(const char* name) {
    ConfigStore root(m_store);
    if (!root.OpenKey(SettingsRoot, false) || !root.ValueExists(name)) return std::nullopt;
    return root.ReadInteger(name);
}

std::optional<std::string> WindowFixture::StoredString(const char* name) {
    ConfigStore root(m_store);
    if (!root.OpenKey(SettingsRoot, false) || !root.ValueExists(name)) return std::nullopt;
    return root.ReadString(name);
}

bool WindowFixture::WaitFor(const std::function<bool()>& condition, int limitMs) {
    return QTest::qWaitFor(condition, limitMs);
}

} // namespace zelm::test
