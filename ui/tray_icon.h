#pragma once

#include <vector>

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

class QAction;

namespace zelm {

/// The program's icon in the desktop's tray: hint "Zelm", the menu "Help", "Restore",
/// "Timer ON", "Exit", and the animation that shows a session at work. Where the desktop has
/// no tray the icon is never shown, and the rest still works.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);

    /// The desktop has a tray, so minimizing can hide the window there.
    bool Available() const;
    /// Shows the icon where the desktop has a tray.
    void Show();
    /// The check mark of "Timer ON".
    void SetTimerChecked(bool on);
    /// Cycles through the images every 100 ms from image 1 (true), or shows image 0 (false).
    void SetAnimation(bool running);
    /// The index of the image shown now (0 at rest).
    int ShownImage() const { return m_shown; }
    /// The tray menu.
    QMenu* Menu() { return &m_menu; }
    /// The program's icon (image 0), for the window.
    static QIcon ProgramIcon();

signals:
    void helpRequested();
    void restoreRequested();
    void timerClicked();
    void exitRequested();

private:
    void ShowImage(int index);

    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QAction* m_timerAction;
    QTimer m_animation;
    std::vector<QIcon> m_images;
    int m_shown = 0;
};

} // namespace zelm
