#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QString>

#include <gtest/gtest.h>

#include "core/config_store.h"
#include "tests/support/test_home.h"
#include "tests/ui/scripted_dialogs.h"
#include "ui/desktop_app.h"
#include "ui/frm_main.h"

namespace zelm::test {

/// The window on a temporary home folder, built offscreen as `zelm` builds it, with scripted
/// dialogs. The start-up entry goes to a temporary XDG_CONFIG_HOME, never the user's: the
/// home folder's "config" (so it is "config/autostart/zelm.desktop" there).
class WindowFixture : public ::testing::Test {
protected:
    WindowFixture();
    ~WindowFixture() override;

    /// Starts the program on the home folder (start-up runs) and shows the window.
    void Start();
    /// Ends the program the way leaving the event loop does: shutdown writes what it writes.
    void Stop();

    /// The running program.
    DesktopApp& App() { return *m_app; }
    TfrmMain& Window() { return m_app->Window(); }
    /// A store connection of the test's own, usable before Start and after Stop.
    SettingsDb& Store() { return m_store; }

    /// The window's control (or action, timer) of that objectName; fails the test when there is
    /// none.
    template <typename T>
    T* Find(const QString& name) {
        T* found = Window().findChild<T*>(name);
        if (found == nullptr) found = TrayMenu()->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << "no control named " << name.toStdString();
        return found;
    }
    /// The tray icon's menu, whose items Find finds too.
    QObject* TrayMenu();
    /// Replaces the field's text by typing, then leaves the field with Tab, as a person would.
    void TypeAndLeave(const QString& fieldName, const QString& text);
    /// Clicks the button or check box of that objectName with the mouse.
    void Click(const QString& name);
    /// Waits, processing events, until the condition holds or limitMs passed; true when it held.
    static bool WaitFor(const std::function<bool()>& condition, int limitMs = 5000);

    /// Stores the window position, as every exit does: start-up reads the options only then.
    void StorePosition(int left = 40, int top = 30);
    /// Stores an integer option of the settings root.
    void StoreInteger(const char* name, int value);
    /// Stores a string option of the settings root.
    void StoreString(const char* name, const std::string& text);
    /// An integer option as stored, nullopt when absent.
    std::optional<int> StoredInteger(const char* name);
    /// A string option as stored, nullopt when absent.
    std::optional<std::string> StoredString(const char* name);

    TempHome home;
    ScriptedDialogs dialogs;

private:
    SettingsDb m_store;
    std::unique_ptr<DesktopApp> m_app;
    std::string m_savedConfigHome;
    bool m_hadConfigHome = false;
};

} // namespace zelm::test
