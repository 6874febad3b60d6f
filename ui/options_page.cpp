#include "ui/options_page.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/program_info.h"
#include "core/schema.h"
#include "ui/dialogs.h"
#include "ui/field_exit.h"

namespace zelm {
namespace {

QLineEdit* NumberField(const char* name, const char* text, QWidget* parent) {
    auto* field = new QLineEdit(QString::fromLatin1(text), parent);
    field->setObjectName(name);
    field->setMaximumWidth(field->fontMetrics().horizontalAdvance(QString(10, '0')) + 16);
    return field;
}

QCheckBox* Box(const char* name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

} // namespace

OptionsPage::OptionsPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context),
      m_edtProcInterval(NumberField("edtProcInterval", schema::PageSessionInterval, this)),
      m_edtMaxAttempts(NumberField("edtMaxAttempts", schema::PageMaxAttempts, this)),
      m_chkTimerON(Box("chkTimerON", tr("&Timer ON at startup"), this)),
      m_chkMinimized(Box("chkMinimized", tr("Start &minimized"), this)),
      m_chkLaunch(Box("chkLaunch", tr("&Launch at login"), this)),
      m_chkFastListing(Box("chkFastListing", tr("&Fast listing"), this)) {
    setObjectName("tabOptions");
    m_edtMaxAttempts->setToolTip(tr("0 = no maximum"));

    auto* sessions = new QGroupBox(tr("Sessions"), this);
    auto* fields = new QFormLayout(sessions);
    auto* intervalLabel = new QLabel(tr("Session &interval (seconds)"), sessions);
    intervalLabel->setBuddy(m_edtProcInterval);
    fields->addRow(intervalLabel, m_edtProcInterval);
    auto* attemptsLabel = new QLabel(tr("Maximum &delivery attempts"), sessions);
    attemptsLabel->setBuddy(m_edtMaxAttempts);
    fields->addRow(attemptsLabel, m_edtMaxAttempts);
    m_chkFastListing->setToolTip(
        tr("List each mailbox in one command and read new headers together: far fewer round "
           "trips on a slow network, the same results"));
    fields->addRow(m_chkFastListing);

    auto* startup = new QGroupBox(tr("Start-up"), this);
    auto* boxes = new QVBoxLayout(startup);
    boxes->addWidget(m_chkTimerON);
    boxes->addWidget(m_chkMinimized);
    boxes->addWidget(m_chkLaunch);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sessions);
    layout->addWidget(startup);
    layout->addStretch();

    // textChanged also comes when start-up sets the text, which stores it as the handler
    // should; toggled likewise for the boxes.
    connect(m_edtProcInterval, &QLineEdit::textChanged, this, &OptionsPage::edtProcIntervalExit);
    OnFieldExit(m_edtProcInterval, [this] { edtProcIntervalExit(); });
    OnFieldExit(m_edtMaxAttempts, [this] { edtMaxAttemptsExit(); });
    connect(m_chkTimerON, &QCheckBox::toggled, this, &OptionsPage::chkTimerONClick);
    connect(m_chkMinimized, &QCheckBox::toggled, this, &OptionsPage::chkMinimizedClick);
    connect(m_chkLaunch, &QCheckBox::toggled, this, &OptionsPage::chkLaunchClick);
    connect(m_chkFastListing, &QCheckBox::toggled, this, &OptionsPage::chkFastListingClick);
}

void OptionsPage::LoadStoredOptions(ConfigStore& root) {
    if (root.ValueExists(schema::TimerON)) m_chkTimerON->setChecked(root.ReadBool(schema::TimerON));
    if (root.ValueExists(schema::Minimized))
        m_chkMinimized->setChecked(root.ReadBool(schema::Minimized));
    // A stored true checks the box, whose handler enters the program in the start-up list
    // again with its current path.
    if (root.ValueExists(schema::Launch)) m_chkLaunch->setChecked(root.ReadBool(schema::Launch));
    if (root.ValueExists(schema::FastListing))
        m_chkFastListing->setChecked(root.ReadBool(schema::FastListing));
    m_edtProcInterval->setText(
        root.ValueExists(schema::SessionInterval)
            ? QString::fromStdString(root.ReadString(schema::SessionInterval))
            : QString::fromLatin1(schema::StoredSessionInterval));
    m_edtMaxAttempts->setText(root.ValueExists(schema::MaxAttempts)
                                  ? QString::fromStdString(root.ReadString(schema::MaxAttempts))
                                  : QString::fromLatin1(schema::StoredMaxAttempts));
}

QString OptionsPage::IntervalText() const {
    return m_edtProcInterval->text();
}

QString OptionsPage::MaxAttemptsText() const {
    return m_edtMaxAttempts->text();
}

bool OptionsPage::TimerOnAtStartup() const {
    return m_chkTimerON->isChecked();
}

bool OptionsPage::StartMinimized() const {
    return m_chkMinimized->isChecked();
}

void OptionsPage::edtProcIntervalExit() {
    emit sessionIntervalChanged();
    ShowingErrors(m_context.dialogs, [this] {
        WriteRegString(m_context.Settings(), SettingsRoot, schema::SessionInterval,
                       m_edtProcInterval->text().toStdString());
    });
}

void OptionsPage::edtMaxAttemptsExit() {
    ShowingErrors(m_context.dialogs, [this] {
        WriteRegString(m_context.Settings(), SettingsRoot, schema::MaxAttempts,
                       m_edtMaxAttempts->text().toStdString());
    });
}

void OptionsPage::chkTimerONClick() {
    ShowingErrors(m_context.dialogs, [this] {
        WriteRegBool(m_context.Settings(), SettingsRoot, schema::TimerON,
                     m_chkTimerON->isChecked());
    });
}

void OptionsPage::chkMinimizedClick() {
    ShowingErrors(m_context.dialogs, [this] {
        WriteRegBool(m_context.Settings(), SettingsRoot, schema::Minimized,
                     m_chkMinimized->isChecked());
    });
}

void OptionsPage::chkLaunchClick() {
    const bool launch = m_chkLaunch->isChecked();
    ShowingErrors(m_context.dialogs, [&] {
        WriteRegBool(m_context.Settings(), SettingsRoot, schema::Launch, launch);
    });
    // The entry opens this same home folder, wherever it was chosen from.
    std::string home = m_context.engine.programDir;
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    SetRunAtStartup(StartupEntryName, {m_context.programPath, "--home", home}, launch);
}

void OptionsPage::chkFastListingClick() {
    ShowingErrors(m_context.dialogs, [this] {
        WriteRegBool(m_context.Settings(), SettingsRoot, schema::FastListing,
                     m_chkFastListing->isChecked());
    });
}

} // namespace zelm
