#include "tests/ui/window_fixture.h"

#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

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

bool WindowFixture::WaitFor(const std::function<bool()>& condition, int limitMs) {
    return QTest::qWaitFor(condition, limitMs);
}

} // namespace zelm::test
