#pragma once

#include <array>

#include <QMainWindow>
#include <QString>
#include <QTimer>

#include "core/engine_ui.h"
#include "ui/window_context.h"

class QLabel;
class QPushButton;
class QTabWidget;

namespace zelm {

class AboutPage;
class FiltersPage;
class InteractivePage;
class ListsPage;
class MailboxesPage;
class OptionsPage;
class TfrmQuery;
class TfrmTextProc;
class TrayIcon;

/// The main window: the six pages as tabs, the three status panels, the session buttons and
/// the session timer. It owns the pages and the tray icon and wires them to each other; the
/// engine reaches it through QtEngineUi.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(WindowContext& context, QWidget* parent = nullptr);
    ~TfrmMain() override;

    /// Loads the options, the mailbox list and the shown mailbox from the store, each group
    /// under its own guard (an error ends only its group, silently).
    void StartUp();
    /// Shows the window, or with "Start minimized" only its tray icon (minimized where the
    /// desktop has no tray).
    void ShowAtStart();
    /// Writes the window position and the shown mailbox and closes any open connection (the
    /// browser's with QUIT). A store failure is reported on stderr.
    void Shutdown();

    MailboxesPage& Mailboxes() { return *m_mailboxes; }
    ListsPage& Lists() { return *m_lists; }
    FiltersPage& Filters() { return *m_filters; }
    OptionsPage& Options() { return *m_options; }
    InteractivePage& Interactive() { return *m_interactive; }
    AboutPage& About() { return *m_about; }
    TrayIcon& Tray() { return *m_tray; }
    /// The message template dialog, hidden until an action or the custom reply needs it.
    TfrmQuery& Query() { return *m_query; }
    /// The text extraction editor, hidden until an extraction action needs it.
    TfrmTextProc& TextProc() { return *m_textProc; }

    /// The session timer is switched on (`TimerOn`).
    bool TimerOn() const { return m_timerOn; }

    // What the engine shows through QtEngineUi.

    /// Sets status panel 1, 2 or 3.
    void SetStatusPanel(int index, const QString& text);
    /// Sets the abort button's caption, colour and whether it can be pressed.
    void SetAbortButton(const QString& caption, AbortButtonColour colour, bool enabled);
    /// Stops the session timer while a session runs.
    void StopSessionTimer();
    /// Restarts the session timer from the interval field when the timer is on.
    void RestartSessionTimer();

public slots:
    /// Exit: ends the program, after a running session has ended cleanly. Also what the tray's
    /// "Exit", the close box and SIGTERM do.
    void butExitClick();

signals:
    /// Exit was chosen and nothing holds the program any more: the event loop should end.
    void quitRequested();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void butStartClick();
    void butAbortClick();
    void butTimerClick();
    void mnuHelpClick();
    void TrayIconDblClick();
    void SessionTimerTimer();
    void ApplyIntervalToTimer();

private:
    QWidget* BuildButtons();
    void BuildStatusBar();
    void RunSessionFromWindow();
    void ShowTimerState();
    void SetSessionPeriod(int ms);
    void PlaceAt(int left, int top);
    void ExitNow();

    WindowContext& m_context;
    QTabWidget* m_tabs;
    MailboxesPage* m_mailboxes;
    ListsPage* m_lists;
    FiltersPage* m_filters;
    OptionsPage* m_options;
    InteractivePage* m_interactive;
    AboutPage* m_about;
    TrayIcon* m_tray;
    TfrmQuery* m_query;
    TfrmTextProc* m_textProc;
    QPushButton* m_butStart = nullptr;
    QPushButton* m_butAbort = nullptr;
    QPushButton* m_butTimer = nullptr;
    QPushButton* m_butHelp = nullptr;
    QPushButton* m_butExit = nullptr;
    std::array<QLabel*, 3> m_panels{};
    QTimer* m_sessionTimer;
    bool m_timerOn = false;
    bool m_sessionRunning = false;
    bool m_exitAfterSession = false;
    bool m_exitAfterBrowser = false;
    bool m_exiting = false;
};

} // namespace zelm
