#include "ui/frm_main.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <iostream>

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/program_info.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/session_driver.h"
#include "ui/about_page.h"
#include "ui/dialogs.h"
#include "ui/filters_page.h"
#include "ui/frm_query.h"
#include "ui/frm_text_proc.h"
#include "ui/help.h"
#include "ui/interactive_page.h"
#include "ui/lists_page.h"
#include "ui/mailboxes_page.h"
#include "ui/options_page.h"
#include "ui/tray_icon.h"

namespace zelm {
namespace {

constexpr int kPanelWidths[] = {189, 135, 135};

// The colours must show whatever the desktop style, so they are style sheets, not palettes.
#define ZELM_STATE_BUTTON_STYLE(background, text, border)                                          \
    "QPushButton { background-color: " background "; color: " text "; border: 1px solid " border   \
    "; border-radius: 3px; padding: 4px 10px; }"                                                   \
    "QPushButton:focus { border: 2px solid palette(highlight); }"                                  \
    "QPushButton:disabled { color: rgb(215, 235, 215); }"
constexpr const char* kTimerOffStyle =
    ZELM_STATE_BUTTON_STYLE("rgb(0, 128, 0)", "white", "rgb(0, 64, 0)");
constexpr const char* kTimerOnStyle =
    ZELM_STATE_BUTTON_STYLE("rgb(0, 255, 0)", "black", "rgb(0, 128, 0)");
constexpr const char* kAbortGreenStyle =
    ZELM_STATE_BUTTON_STYLE("rgb(0, 128, 0)", "white", "rgb(0, 64, 0)");
constexpr const char* kAbortRedStyle =
    ZELM_STATE_BUTTON_STYLE("rgb(255, 0, 0)", "white", "rgb(128, 0, 0)");
#undef ZELM_STATE_BUTTON_STYLE

/// The session period for an interval text: seconds x 1000, 0 (no ticks) for text that is not
/// a positive number; an interval beyond what a timer holds is cut to the longest it holds.
int PeriodMs(const QString& intervalText) {
    const std::int64_t seconds =
        TextToIntDef(intervalText.toStdString(), schema::SessionIntervalNotANumber);
    if (seconds <= 0) return 0;
    return static_cast<int>(std::min<std::int64_t>(seconds * 1000, INT_MAX));
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

TfrmMain::TfrmMain(WindowContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context), m_tabs(new QTabWidget(this)),
      m_mailboxes(new MailboxesPage(context)), m_lists(new ListsPage(context)),
      m_filters(new FiltersPage(context)), m_options(new OptionsPage(context)),
      m_interactive(new InteractivePage(context)), m_about(new AboutPage),
      m_tray(new TrayIcon(this)), m_query(new TfrmQuery(context, *m_filters, this)),
      m_textProc(new TfrmTextProc(context, *m_filters, this)), m_sessionTimer(new QTimer(this)) {
    setObjectName("frmMain");
    // Step 1 of start-up: "ZELM v1.0.0 - POP3 mail processor".
    setWindowTitle(QString::fromStdString(ProgramCaption()));
    setWindowIcon(TrayIcon::ProgramIcon());
    // Fixed size: no maximize button, no resizing; minimize hides the window to the tray.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    m_tabs->setObjectName("pgcMain");
    m_tabs->addTab(m_mailboxes, tr("Mailboxes"));
    m_tabs->addTab(m_lists, tr("Lists"));
    m_tabs->addTab(m_filters, tr("Filters"));
    m_tabs->addTab(m_options, tr("Options"));
    m_tabs->addTab(m_interactive, tr("Interactive"));
    m_tabs->addTab(m_about, tr("About"));
    // Each page is named after its tab, so a screen reader says which page it is in.
    for (int i = 0; i < m_tabs->count(); ++i)
        m_tabs->widget(i)->setAccessibleName(m_tabs->tabText(i));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_tabs);
    layout->addWidget(BuildButtons());
    setCentralWidget(central);
    BuildStatusBar();

    m_sessionTimer->setObjectName("SessionTimer");
    connect(m_sessionTimer, &QTimer::timeout, this, &TfrmMain::SessionTimerTimer);
    connect(m_options, &OptionsPage::sessionIntervalChanged, this, &TfrmMain::ApplyIntervalToTimer);
    m_filters->SetMailboxSource([this] { return m_mailboxes->SelectedMailbox(); });
    m_filters->SetActionDialogs(m_query, m_textProc);
    m_query->SetMailboxSource([this] { return m_mailboxes->SelectedMailbox(); });
    m_lists->SetMailboxSource([this] { return m_mailboxes->SelectedMailbox(); });
    connect(m_lists, &ListsPage::customMessageRequested, m_query, &TfrmQuery::OpenReturnToSender);
    // Choosing a mailbox on the Mailboxes page decides what the Lists and Filters pages show.
    connect(m_mailboxes, &MailboxesPage::listSwitchLoaded, m_lists, &ListsPage::ShowLoadedSwitch);
    connect(m_mailboxes, &MailboxesPage::forwardAddressLoaded, m_lists,
            &ListsPage::ShowLoadedForwardAddress);
    connect(m_mailboxes, &MailboxesPage::pageCleared, m_lists, &ListsPage::ClearPage);
    connect(m_mailboxes, &MailboxesPage::mailboxChosen, m_filters, &FiltersPage::ShowFilters);
    connect(m_mailboxes, &MailboxesPage::mailboxCreated, m_filters, &FiltersPage::ClearFilters);
    connect(m_filters, &FiltersPage::filterNamesChanged, m_mailboxes,
            &MailboxesPage::ShowFilterChoices);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        if (m_tabs->currentWidget() == m_lists) m_lists->tabListsShow();
    });
    connect(m_tray, &TrayIcon::helpRequested, this, &TfrmMain::mnuHelpClick);
    connect(m_tray, &TrayIcon::restoreRequested, this, &TfrmMain::TrayIconDblClick);
    connect(m_tray, &TrayIcon::timerClicked, this, &TfrmMain::butTimerClick);
    connect(m_tray, &TrayIcon::exitRequested, this, &TfrmMain::butExitClick);
    m_interactive->SetConnectionSource([this] { return m_mailboxes->ShownConnectionFields(); });
    connect(m_interactive, &InteractivePage::idle, this, [this] {
        if (m_exitAfterBrowser) ExitNow();
    });

    SetAbortButton(kAbortCaptionIdle, AbortButtonColour::Green, false);
    ShowTimerState();
    // The size follows from the layouts, so the window reads well with any font.
    setFixedSize(sizeHint());
}

TfrmMain::~TfrmMain() = default;

QWidget* TfrmMain::BuildButtons() {
    auto* row = new QWidget(this);
    m_butStart = Button(tr("Manual &Start"), "butStart", row);
    m_butAbort = Button(QString(), "butAbort", row);
    m_butTimer = Button(QString(), "butTimer", row);
    m_butHelp = Button(tr("&Help"), "butHelp", row);
    m_butExit = Button(tr("E&xit"), "butExit", row);
    // Wide enough for the longest captions the two state buttons show.
    const QFontMetrics metrics = m_butAbort->fontMetrics();
    m_butAbort->setMinimumWidth(metrics.horizontalAdvance(kAbortCaptionAborting) + 24);
    m_butTimer->setMinimumWidth(metrics.horizontalAdvance(tr("Timer is OFF")) + 24);

    auto* buttons = new QHBoxLayout(row);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(m_butStart);
    buttons->addWidget(m_butAbort);
    buttons->addWidget(m_butTimer);
    buttons->addStretch();
    buttons->addWidget(m_butHelp);
    buttons->addWidget(m_butExit);

    connect(m_butStart, &QPushButton::clicked, this, &TfrmMain::butStartClick);
    connect(m_butAbort, &QPushButton::clicked, this, &TfrmMain::butAbortClick);
    connect(m_butTimer, &QPushButton::clicked, this, &TfrmMain::butTimerClick);
    connect(m_butHelp, &QPushButton::clicked, this, &TfrmMain::mnuHelpClick);
    connect(m_butExit, &QPushButton::clicked, this, &TfrmMain::butExitClick);
    return row;
}

void TfrmMain::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QString("pnlStatus%1").arg(i + 1));
        panel->setFixedWidth(kPanelWidths[i]);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        m_panels[i] = panel;
        SetStatusPanel(static_cast<int>(i) + 1, QString());
    }
}

void TfrmMain::StartUp() {
    // Step 2.
    m_tabs->setCurrentWidget(m_mailboxes);

    // Step 3, the options: an absent Top or Left (a first run) ends the group here, so every
    // option keeps what the page shows before anything is loaded.
    int lastMailbox = schema::PageLastMailbox;
    try {
        ConfigStore root(m_context.Settings());
        root.OpenKey(SettingsRoot, true);
        const int top = root.ReadInteger(schema::Top);
        const int left = root.ReadInteger(schema::Left);
        PlaceAt(left, top);
        m_options->LoadStoredOptions(root);
        if (m_options->TimerOnAtStartup()) SetSessionPeriod(PeriodMs(m_options->IntervalText()));
        lastMailbox = root.ValueExists(schema::LastMailbox) ? root.ReadInteger(schema::LastMailbox)
                                                            : schema::StoredLastMailbox;
        if (root.ValueExists(schema::HeaderFields))
            m_filters->ReplaceHeaderFields(
                HeaderFieldListFromStored(root.ReadString(schema::HeaderFields)));
    } catch (const std::exception&) {
        // Start-up goes on silently with the next group.
    }

    // Step 4.
    if (m_options->TimerOnAtStartup() && !m_timerOn) butTimerClick();

    // Step 5, the mailbox list.
    try {
        m_mailboxes->FillMailboxList(lastMailbox);
    } catch (const std::exception&) {
    }

    // Step 6, the shown mailbox, then its filter list.
    if (!Trim(m_mailboxes->SelectedMailbox().toStdString()).empty()) {
        try {
            m_mailboxes->ShowMailbox(true);
        } catch (const std::exception&) {
        }
        try {
            m_filters->LoadFilters();
        } catch (const std::exception&) {
        }
    }

    // Step 9 (step 7 is ShowAtStart).
    m_context.engine.currentMailbox = m_mailboxes->SelectedMailbox().toStdString();
}

void TfrmMain::ShowAtStart() {
    m_tray->Show();
    if (!m_options->StartMinimized()) {
        show();
    } else if (!m_tray->Available()) {
        showMinimized();
    }
}

void TfrmMain::Shutdown() {
    try {
        ConfigStore root(m_context.Settings());
        root.OpenKey(SettingsRoot, true);
        root.WriteInteger(schema::Top, y());
        root.WriteInteger(schema::Left, x());
        root.WriteInteger(schema::LastMailbox, m_mailboxes->SelectedPosition() < 0
                                                   ? schema::NoMailboxShown
                                                   : m_mailboxes->SelectedPosition());
    } catch (const std::exception& error) {
        std::cerr << ProgramName << ": the window position could not be saved: " << error.what()
                  << '\n';
    }
    m_interactive->DisconnectAtExit();
    m_context.session.pop3.connection.Close();
    m_context.session.smtp.smtp.Close();
}

void TfrmMain::PlaceAt(int left, int top) {
    // A position no screen shows any more (a monitor was removed) would hide the window.
    const QRect wanted(QPoint(left, top), size());
    for (const QScreen* screen : QApplication::screens()) {
        if (screen->availableGeometry().intersects(wanted)) {
            move(left, top);
            return;
        }
    }
}

void TfrmMain::SetStatusPanel(int index, const QString& text) {
    if (index < 1 || index > static_cast<int>(m_panels.size())) return;
    QLabel* panel = m_panels[static_cast<std::size_t>(index - 1)];
    panel->setText(text);
    // A screen reader hears a label only by its name, so the name carries the text.
    panel->setAccessibleName(QString("Status panel %1: %2").arg(index).arg(text));
}

void TfrmMain::SetAbortButton(const QString& caption, AbortButtonColour colour, bool enabled) {
    m_butAbort->setText(caption);
    m_butAbort->setStyleSheet(colour == AbortButtonColour::Red ? kAbortRedStyle : kAbortGreenStyle);
    m_butAbort->setEnabled(enabled);
    // While pending mail is sent the caption is empty; the button is still the abort button.
    m_butAbort->setAccessibleName(caption.isEmpty() ? tr("Abort session") : caption);
}

void TfrmMain::StopSessionTimer() {
    if (m_timerOn) SetSessionPeriod(0);
}

void TfrmMain::RestartSessionTimer() {
    if (m_timerOn) SetSessionPeriod(PeriodMs(m_options->IntervalText()));
}

void TfrmMain::SetSessionPeriod(int ms) {
    // A period of 0 means no ticks (a QTimer would fire at every turn of the event loop).
    if (ms > 0) {
        m_sessionTimer->start(ms);
    } else {
        m_sessionTimer->stop();
        m_sessionTimer->setInterval(0);
    }
}

void TfrmMain::ShowTimerState() {
    m_butTimer->setText(m_timerOn ? tr("Timer is ON") : tr("Timer is OFF"));
    m_butTimer->setStyleSheet(m_timerOn ? kTimerOnStyle : kTimerOffStyle);
    m_tray->SetTimerChecked(m_timerOn);
}

void TfrmMain::butTimerClick() {
    const int period = PeriodMs(m_options->IntervalText());
    m_timerOn = !m_timerOn && period > 0;
    SetSessionPeriod(m_timerOn ? period : 0);
    ShowTimerState();
}

void TfrmMain::ApplyIntervalToTimer() {
    if (m_timerOn) SetSessionPeriod(PeriodMs(m_options->IntervalText()));
}

void TfrmMain::butStartClick() {
    // A field still being edited is left first (a press through the accessibility interface
    // moves no focus), so the session uses what it shows.
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    RunSessionFromWindow();
}

void TfrmMain::SessionTimerTimer() {
    RunSessionFromWindow();
}

void TfrmMain::RunSessionFromWindow() {
    // A start while a session runs (its events are pumped) is refused by the engine anyway.
    if (m_sessionRunning) return;
    m_sessionRunning = true;
    RunSession(m_context.session);
    m_sessionRunning = false;
    if (m_exitAfterSession) ExitNow();
}

void TfrmMain::butAbortClick() {
    AbortSession(m_context.engine);
}

void TfrmMain::butExitClick() {
    // The field being edited is left first, so what it shows is stored.
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    if (m_sessionRunning) {
        // The session ends cleanly after the current message; the program ends after it.
        m_exitAfterSession = true;
        if (!m_context.engine.abortRequested) AbortSession(m_context.engine);
        return;
    }
    if (m_interactive->Busy()) {
        // The browser's command gets its reply first; QUIT then follows in order.
        m_exitAfterBrowser = true;
        return;
    }
    ExitNow();
}

void TfrmMain::ExitNow() {
    m_exiting = true;
    m_exitAfterBrowser = false;
    m_interactive->DisconnectAtExit();
    m_context.session.pop3.connection.Close();
    m_context.session.smtp.smtp.Close();
    emit quitRequested();
}

void TfrmMain::mnuHelpClick() {
    const QString page = FindHelpPage(QString::fromStdString(m_context.programFolder));
    if (page.isEmpty()) {
        m_context.dialogs.ShowMessage(tr("The help page (help.html) was not found beside the "
                                         "program or in its share/zelm folder."));
        return;
    }
    m_context.dialogs.OpenInBrowser(HelpTopicUrl(page, kMainHelpTopic));
}

void TfrmMain::TrayIconDblClick() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TfrmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimized, the window leaves the taskbar and only the tray icon remains.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray->Available())
        QTimer::singleShot(0, this, &QWidget::hide);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    // The close box ends the program the way Exit does.
    event->ignore();
    butExitClick();
}

} // namespace zelm
