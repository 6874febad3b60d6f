#include "ui/mailboxes_page.h"

#include <algorithm>
#include <filesystem>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/name_rules.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"
#include "messages/cache_journal.h"
#include "messages/data_file.h"
#include "session/session_driver.h"
#include "ui/dialogs.h"
#include "ui/field_exit.h"
#include "ui/line_list_edit.h"
#include "ui/name_prompt.h"

namespace zelm {
namespace {

/// The security choices as shown and as stored, in the order of the drop-down list.
struct SecurityChoice {
    const char* caption;
    const char* stored;
};
constexpr SecurityChoice kSecurityChoices[] = {{"None", schema::SecurityNone},
                                               {"STARTTLS", schema::SecurityStartTls},
                                               {"SSL/TLS", schema::SecurityTls}};
constexpr int kSecurityTlsIndex = 2;

constexpr const char* kPop3TlsPort = "995";
constexpr const char* kSmtpTlsPort = "465";

QLabel* BuddyLabel(const QString& caption, QWidget* buddy) {
    auto* label = new QLabel(caption);
    label->setBuddy(buddy);
    return label;
}

// The stored text's choice: -1 for a text that is none of them (shown as no choice, so a
// plain connection is never what the page pretends to).
int SecurityIndex(const std::string& stored) {
    const auto security = ParseConnectionSecurity(stored);
    if (!security) return -1;
    switch (*security) {
    case ConnectionSecurity::None:
        return 0;
    case ConnectionSecurity::StartTls:
        return 1;
    case ConnectionSecurity::Tls:
        return kSecurityTlsIndex;
    }
    return -1;
}

void RemoveIfExists(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) throw ZelmError("The file " + path + " could not be deleted: " + error.message());
}

} // namespace

MailboxesPage::MailboxesPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName("tabMailboxes");
    auto* left = new QVBoxLayout;
    left->addWidget(BuildMailboxRow());
    auto* groups = new QHBoxLayout;
    groups->addWidget(BuildPop3Group());
    groups->addWidget(BuildSmtpGroup());
    left->addLayout(groups);
    left->addWidget(BuildSizeRow());
    left->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(BuildOperationGroup());

    // What the page shows before any mailbox is loaded.
    m_chkEnMailbox->setChecked(true);
    m_edtCache->setText(schema::EditorStartupCache);
    m_edtPort->setText(schema::NewMailboxPort);
    m_edtSMTPPort->setText(schema::NewMailboxSMTPPort);
    UpdateSmtpAuthFields();
}

QWidget* MailboxesPage::BuildMailboxRow() {
    auto* row = new QWidget(this);
    m_cmbMailbox = new QComboBox(row);
    m_cmbMailbox->setObjectName("cmbMailbox");
    m_cmbMailbox->setMinimumContentsLength(20);
    m_butSaveMailbox = AddButton("butSaveMailbox", tr("&New"), tr("Add new mailbox"),
                                 tr("Add new mailbox"), &MailboxesPage::butSaveMailboxClick);
    m_butDelMailbox = AddButton("butDelMailbox", tr("&Delete"), tr("Delete mailbox"),
                                tr("Delete mailbox"), &MailboxesPage::butDelMailboxClick);
    m_chkEnMailbox = AddCheckBox("chkEnMailbox", tr("&Enable Mailbox"),
                                 tr("Check to enable processing for this mailbox"),
                                 &MailboxesPage::chkEnMailboxClick);
    m_edtCache = AddField("edtCache", &MailboxesPage::edtCacheExit);
    m_edtCache->setToolTip(
        tr("This value should be greater than the max number of msgs in mailbox at any one time"));
    m_edtCache->setMaximumWidth(m_edtCache->fontMetrics().horizontalAdvance(QString(8, '0')));
    // By mouse or keyboard; filling or selecting by the program is no choice of the user's.
    connect(m_cmbMailbox, &QComboBox::activated, this, &MailboxesPage::cmbMailboxChange);

    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(BuddyLabel(tr("&Mailbox"), m_cmbMailbox));
    layout->addWidget(m_cmbMailbox);
    layout->addWidget(m_butSaveMailbox);
    layout->addWidget(m_butDelMailbox);
    layout->addSpacing(12);
    layout->addWidget(m_chkEnMailbox);
    layout->addStretch();
    layout->addWidget(BuddyLabel(tr("&Cache"), m_edtCache));
    layout->addWidget(m_edtCache);
    layout->addWidget(new QLabel(tr("msgs"), row));
    return row;
}

QWidget* MailboxesPage::BuildPop3Group() {
    auto* group = new QGroupBox(tr("Pop3 (Incoming mail)"), this);
    m_edtHost = AddField("edtHost", &MailboxesPage::edtHostExit);
    m_edtUserID = AddField("edtUserID", &MailboxesPage::edtUserIDExit);
    m_edtPassword = AddField("edtPassword", &MailboxesPage::edtPasswordExit);
    m_edtPort = AddField("edtPort", &MailboxesPage::edtPortExit);
    m_cmbPop3Security = AddSecurityChoice("cmbPop3Security", &MailboxesPage::cmbPop3SecurityChange);
    auto* fields = new QFormLayout(group);
    fields->addRow(BuddyLabel(tr("&Host"), m_edtHost), m_edtHost);
    fields->addRow(BuddyLabel(tr("&User ID"), m_edtUserID), m_edtUserID);
    fields->addRow(BuddyLabel(tr("&Password"), m_edtPassword), m_edtPassword);
    fields->addRow(BuddyLabel(tr("P&ort"), m_edtPort), m_edtPort);
    fields->addRow(BuddyLabel(tr("Securit&y"), m_cmbPop3Security), m_cmbPop3Security);
    return group;
}

QWidget* MailboxesPage::BuildSmtpGroup() {
    auto* group = new QGroupBox(tr("SMTP (Outgoing mail)"), this);
    m_edtSMTPHost = AddField("edtSMTPHost", &MailboxesPage::edtSMTPHostExit);
    m_edtSMTPPort = AddField("edtSMTPPort", &MailboxesPage::edtSMTPPortExit);
    m_edtSMTPFrom = AddField("edtSMTPFrom", &MailboxesPage::edtSMTPFromExit);
    m_cmbSMTPSecurity = AddSecurityChoice("cmbSMTPSecurity", &MailboxesPage::cmbSMTPSecurityChange);
    m_chkSMTPAuth = AddCheckBox("chkSMTPAuth", tr("Au&thentication"),
                                tr("Check when the server wants a user ID and password"),
                                &MailboxesPage::chkSMTPAuthClick);
    m_edtSMTPUserID = AddField("edtSMTPUserID", &MailboxesPage::edtSMTPUserIDExit);
    m_edtSMTPPassword = AddField("edtSMTPPassword", &MailboxesPage::edtSMTPPasswordExit);
    // Two groups label their fields alike; the name says which server a field belongs to.
    m_edtSMTPUserID->setAccessibleName(tr("SMTP User ID"));
    m_edtSMTPPassword->setAccessibleName(tr("SMTP Password"));
    auto* fields = new QFormLayout(group);
    fields->addRow(BuddyLabel(tr("Ho&st"), m_edtSMTPHost), m_edtSMTPHost);
    fields->addRow(BuddyLabel(tr("Po&rt"), m_edtSMTPPort), m_edtSMTPPort);
    fields->addRow(BuddyLabel(tr("&From"), m_edtSMTPFrom), m_edtSMTPFrom);
    fields->addRow(BuddyLabel(tr("Secur&ity"), m_cmbSMTPSecurity), m_cmbSMTPSecurity);
    fields->addRow(m_chkSMTPAuth);
    fields->addRow(BuddyLabel(tr("User I&D"), m_edtSMTPUserID), m_edtSMTPUserID);
    fields->addRow(BuddyLabel(tr("Pass&word"), m_edtSMTPPassword), m_edtSMTPPassword);
    return group;
}

QWidget* MailboxesPage::BuildSizeRow() {
    auto* row = new QWidget(this);
    m_chkLimitSize =
        AddCheckBox("chkLimitSize", tr("&Limit msg size to "),
                    tr("Check to exclude large messages"), &MailboxesPage::chkLimitSizeClick);
    m_edtLimitSize = AddField("edtLimitSize", &MailboxesPage::edtLimitSizeExit);
    m_edtLimitSize->setToolTip(tr("Enter message size in bytes"));
    m_edtLimitSize->setAccessibleName(tr("Message size limit in bytes"));
    m_edtLimitSize->setMaximumWidth(
        m_edtLimitSize->fontMetrics().horizontalAdvance(QString(12, '0')));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_chkLimitSize);
    layout->addWidget(m_edtLimitSize);
    layout->addWidget(new QLabel(tr("bytes"), row));
    layout->addStretch();
    return row;
}

QWidget* MailboxesPage::BuildOperationGroup() {
    auto* group = new QGroupBox(tr("Filters to apply"), this);
    m_cmbOperation = new QComboBox(group);
    m_cmbOperation->setObjectName("cmbOperation");
    m_cmbOperation->setAccessibleName(tr("Filter to add"));
    m_cmbOperation->setMinimumContentsLength(16);
    m_lstOperation = new QListWidget(group);
    m_lstOperation->setObjectName("lstOperation");
    m_lstOperation->setAccessibleName(tr("Filters to apply"));
    // The list takes the group's height; this many lines at least.
    m_lstOperation->setMinimumHeight(m_lstOperation->fontMetrics().lineSpacing() * 8 +
                                     2 * m_lstOperation->frameWidth() + 4);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(AddButton("butAddOperation", tr("Add"), tr("Add"), tr("Add filter to order"),
                                 &MailboxesPage::butAddOperationClick));
    buttons->addWidget(AddButton("butInsOperation", tr("Insert"), tr("Insert"),
                                 tr("Insert filter in order"),
                                 &MailboxesPage::butInsOperationClick));
    buttons->addWidget(AddButton("butDelOperation", tr("Delete"), tr("Delete"),
                                 tr("Remove filter from order"),
                                 &MailboxesPage::butDelOperationClick));
    auto* moves = new QHBoxLayout;
    moves->addWidget(AddButton("butUpOperation", tr("Up"), tr("Move up"), tr("Move filter up"),
                               &MailboxesPage::butUpOperationClick));
    moves->addWidget(AddButton("butDownOperation", tr("Down"), tr("Move down"),
                               tr("Move filter down"), &MailboxesPage::butDownOperationClick));
    moves->addStretch();

    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_cmbOperation);
    layout->addLayout(buttons);
    layout->addWidget(m_lstOperation, 1);
    layout->addLayout(moves);
    return group;
}

QLineEdit* MailboxesPage::AddField(const char* name, void (MailboxesPage::*exit)()) {
    auto* field = new QLineEdit(this);
    field->setObjectName(name);
    OnFieldExit(field, [this, exit] { (this->*exit)(); });
    if (exit == &MailboxesPage::edtPasswordExit || exit == &MailboxesPage::edtSMTPPasswordExit) {
        field->setEchoMode(QLineEdit::Password);
        field->setStyleSheet("QLineEdit { lineedit-password-character: 42; }"); // "*"
    }
    return field;
}

QCheckBox* MailboxesPage::AddCheckBox(const char* name, const QString& caption, const QString& hint,
                                      void (MailboxesPage::*click)()) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setToolTip(hint);
    // toggled, not clicked: a box that loading a mailbox changes runs its handler too.
    connect(box, &QCheckBox::toggled, this, click);
    return box;
}

QPushButton* MailboxesPage::AddButton(const char* name, const QString& caption, const QString& hint,
                                      const QString& accessibleName,
                                      void (MailboxesPage::*click)()) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setToolTip(hint);
    button->setAccessibleName(accessibleName);
    connect(button, &QPushButton::clicked, this, click);
    return button;
}

QComboBox* MailboxesPage::AddSecurityChoice(const char* name, void (MailboxesPage::*change)()) {
    auto* choice = new QComboBox(this);
    choice->setObjectName(name);
    for (const SecurityChoice& entry : kSecurityChoices)
        choice->addItem(QString::fromLatin1(entry.caption));
    choice->setCurrentIndex(0);
    connect(choice, &QComboBox::activated, this, change);
    return choice;
}

// ---- The mailbox list ----

void MailboxesPage::FillMailboxList(int position) {
    ConfigStore mailboxes(m_context.Settings());
    mailboxes.OpenKey(std::string(SettingsRoot) + "\\" + schema::MailboxesKey, true);
    mailboxes.CloseKey();
    m_cmbMailbox->clear();
    for (const std::string& name : SortedMailboxNames(m_context.Settings()))
        m_cmbMailbox->addItem(QString::fromStdString(name));
    m_cmbMailbox->setCurrentIndex(position >= 0 && position < m_cmbMailbox->count() ? position
                                                                                    : -1);
}

QString MailboxesPage::SelectedMailbox() const {
    return m_cmbMailbox->currentIndex() < 0 ? QString() : m_cmbMailbox->currentText();
}

int MailboxesPage::SelectedPosition() const {
    return m_cmbMailbox->currentIndex();
}

std::string MailboxesPage::MailboxKey() const {
    return MailboxKeyPath(SelectedMailbox().toStdString());
}

void MailboxesPage::butSaveMailboxClick() {
    std::vector<std::string> existing;
    for (int i = 0; i < m_cmbMailbox->count(); ++i)
        existing.push_back(m_cmbMailbox->itemText(i).toStdString());
    const std::optional<std::string> name =
        AskNewName(m_context.dialogs,
                   {tr("New mailbox"), tr("Enter mailbox name."), tr("Please enter a name.")},
                   existing, MailboxNameRefusal);
    if (!name) return;
    ShowingErrors(m_context.dialogs, [&] {
        CreateMailbox(m_context.Settings(), *name,
                      {m_chkEnMailbox->isChecked(), FieldBytes(m_edtCache), FieldBytes(m_edtHost),
                       FieldBytes(m_edtSMTPHost)});
        const auto at = std::upper_bound(existing.begin(), existing.end(), *name, LessNoCase);
        const int row = static_cast<int>(at - existing.begin());
        m_cmbMailbox->insertItem(row, QString::fromStdString(*name));
        m_cmbMailbox->setCurrentIndex(row);

        // The values the new mailbox does not take from the page show what it stores; the
        // ports and the size limit keep what they showed.
        const std::string key = MailboxKey();
        SettingsDb& db = m_context.Settings();
        ShowBytes(m_edtUserID, ReadRegString(db, key, schema::UserID, ""));
        ShowBytes(m_edtPassword, UnscramblePassword(ReadRegString(db, key, schema::Password, "")));
        ShowBytes(m_edtSMTPFrom, ReadRegString(db, key, schema::SMTPFrom, ""));
        // Its connections are plain, as its ports are, until the user chooses otherwise.
        m_cmbPop3Security->setCurrentIndex(0);
        m_cmbSMTPSecurity->setCurrentIndex(0);
        {
            const QSignalBlocker quiet(m_chkSMTPAuth);
            m_chkSMTPAuth->setChecked(false);
        }
        ShowBytes(m_edtSMTPUserID, "");
        ShowBytes(m_edtSMTPPassword, "");
        UpdateSmtpAuthFields();

        ShowOperation({}, -1);
        emit mailboxCreated();
    });
}

void MailboxesPage::cmbMailboxChange() {
    ShowingErrors(m_context.dialogs, [this] { ShowMailbox(false); });
    emit mailboxChosen();
}

void MailboxesPage::ShowFlag(QCheckBox* box, ConfigStore& key, const char* valueName) {
    // Setting the box runs its handler when the state changes, which writes it back.
    box->setChecked(key.ValueExists(valueName) ? key.ReadBool(valueName) : schema::EditorFlagShown);
}

void MailboxesPage::ShowSecurity(QComboBox* choice, ConfigStore& key, const char* valueName) {
    choice->setCurrentIndex(key.ValueExists(valueName) ? SecurityIndex(key.ReadString(valueName))
                                                       : 0);
}

void MailboxesPage::ShowMailbox(bool atStartUp) {
    const std::string mailbox = SelectedMailbox().toStdString();
    // No key is made for an empty name.
    if (Trim(mailbox).empty()) return;
    ConfigStore key(m_context.Settings());
    key.OpenKey(MailboxKeyPath(mailbox), true);
    const auto show = [&](QLineEdit* field, const char* name) {
        ShowBytes(field, key.ReadString(name));
    };
    ShowFlag(m_chkEnMailbox, key, schema::MailboxEnabled);
    ShowBytes(m_edtCache, key.ValueExists(schema::Cache)
                              ? key.ReadString(schema::Cache)
                              : std::string(atStartUp ? schema::EditorStartupCache : ""));
    show(m_edtHost, schema::Host);
    show(m_edtUserID, schema::UserID);
    ShowBytes(m_edtPassword, UnscramblePassword(key.ReadString(schema::Password)));
    show(m_edtPort, schema::Port);
    ShowSecurity(m_cmbPop3Security, key, schema::Pop3Security);
    show(m_edtSMTPHost, schema::SMTPHost);
    show(m_edtSMTPPort, schema::SMTPPort);
    show(m_edtSMTPFrom, schema::SMTPFrom);
    ShowSecurity(m_cmbSMTPSecurity, key, schema::SMTPSecurity);
    {
        // An absent SMTPAuth is no authentication, as a session reads it; nothing to write.
        const QSignalBlocker quiet(m_chkSMTPAuth);
        m_chkSMTPAuth->setChecked(key.ValueExists(schema::SMTPAuth) ? key.ReadBool(schema::SMTPAuth)
                                                                    : schema::SessionSMTPAuth);
    }
    UpdateSmtpAuthFields();
    show(m_edtSMTPUserID, schema::SMTPUserID);
    ShowBytes(m_edtSMTPPassword, UnscramblePassword(key.ReadString(schema::SMTPPassword)));
    ShowOperation(SplitListValue(key.ReadString(schema::Operation)), -1);
    const auto listSwitch = [&](const char* name) {
        emit listSwitchLoaded(name,
                              key.ValueExists(name) ? key.ReadBool(name) : schema::EditorFlagShown);
    };
    listSwitch(schema::AcceptListEnabled);
    listSwitch(schema::RejectListEnabled);
    ShowFlag(m_chkLimitSize, key, schema::LimitMessageSizeEnabled);
    listSwitch(schema::ForwardToEnabled);
    listSwitch(schema::BounceEnabled);
    listSwitch(schema::DeleteEnabled);
    emit forwardAddressLoaded(key.ReadString(schema::ForwardAddress));
    show(m_edtLimitSize, schema::LimitSize);
    key.CloseKey();
}

void MailboxesPage::butDelMailboxClick() {
    const std::string mailbox = SelectedMailbox().toStdString();
    if (mailbox.empty()) return;
    bool deleted = false;
    ShowingErrors(m_context.dialogs, [&] {
        DeleteMailbox(m_context.Settings(), mailbox);
        deleted = true;
        // The journal goes too: left behind, its records would be taken up by a new mailbox
        // of the same name.
        RemoveIfExists(DataFilePath(m_context.engine.programDir, mailbox));
        RemoveIfExists(JournalFilePath(m_context.engine.programDir, mailbox));
    });
    if (!deleted) return;
    m_cmbMailbox->removeItem(m_cmbMailbox->currentIndex());
    if (m_cmbMailbox->count() > 0) {
        m_cmbMailbox->setCurrentIndex(0);
        ShowingErrors(m_context.dialogs, [this] { ShowMailbox(false); });
    } else {
        m_cmbMailbox->setCurrentIndex(-1);
        ClearPage();
    }
    emit mailboxChosen();
}

void MailboxesPage::ClearPage() {
    // No mailbox is selected, so the handlers these changes run store nothing.
    m_chkEnMailbox->setChecked(true);
    for (QLineEdit* field :
         {m_edtCache, m_edtHost, m_edtUserID, m_edtPassword, m_edtPort, m_edtSMTPHost,
          m_edtSMTPPort, m_edtSMTPFrom, m_edtSMTPUserID, m_edtSMTPPassword, m_edtLimitSize})
        field->clear();
    m_cmbPop3Security->setCurrentIndex(0);
    m_cmbSMTPSecurity->setCurrentIndex(0);
    m_chkSMTPAuth->setChecked(false);
    m_chkLimitSize->setChecked(true);
    ShowOperation({}, -1);
    m_cmbOperation->clear();
    emit pageCleared();
}

// ---- Fields ----

void MailboxesPage::ShowBytes(QLineEdit* field, const std::string& bytes) {
    m_loaded[field] = bytes;
    field->setText(QString::fromStdString(bytes));
}

std::string MailboxesPage::FieldBytes(const QLineEdit* field) const {
    const auto loaded = m_loaded.find(field);
    if (loaded != m_loaded.end() && field->text() == QString::fromStdString(loaded->second))
        return loaded->second;
    return field->text().toStdString();
}

void MailboxesPage::StoreString(const char* valueName, const std::string& text) {
    if (SelectedMailbox().isEmpty()) return;
    ShowingErrors(m_context.dialogs,
                  [&] { WriteRegString(m_context.Settings(), MailboxKey(), valueName, text); });
}

void MailboxesPage::StoreFlag(const char* valueName, bool flag) {
    if (SelectedMailbox().isEmpty()) return;
    ShowingErrors(m_context.dialogs,
                  [&] { WriteRegBool(m_context.Settings(), MailboxKey(), valueName, flag); });
}

void MailboxesPage::chkEnMailboxClick() {
    StoreFlag(schema::MailboxEnabled, m_chkEnMailbox->isChecked());
}

void MailboxesPage::edtCacheExit() {
    StoreString(schema::Cache, FieldBytes(m_edtCache));
}

void MailboxesPage::edtHostExit() {
    StoreString(schema::Host, FieldBytes(m_edtHost));
}

void MailboxesPage::edtUserIDExit() {
    StoreString(schema::UserID, FieldBytes(m_edtUserID));
}

void MailboxesPage::edtPasswordExit() {
    StoreString(schema::Password, ScramblePassword(FieldBytes(m_edtPassword)));
}

void MailboxesPage::edtPortExit() {
    StoreString(schema::Port, FieldBytes(m_edtPort));
}

void MailboxesPage::edtSMTPHostExit() {
    StoreString(schema::SMTPHost, FieldBytes(m_edtSMTPHost));
}

void MailboxesPage::edtSMTPPortExit() {
    StoreString(schema::SMTPPort, FieldBytes(m_edtSMTPPort));
}

void MailboxesPage::edtSMTPFromExit() {
    StoreString(schema::SMTPFrom, FieldBytes(m_edtSMTPFrom));
}

void MailboxesPage::edtSMTPUserIDExit() {
    StoreString(schema::SMTPUserID, FieldBytes(m_edtSMTPUserID));
}

void MailboxesPage::edtSMTPPasswordExit() {
    StoreString(schema::SMTPPassword, ScramblePassword(FieldBytes(m_edtSMTPPassword)));
}

void MailboxesPage::chkSMTPAuthClick() {
    UpdateSmtpAuthFields();
    StoreFlag(schema::SMTPAuth, m_chkSMTPAuth->isChecked());
}

void MailboxesPage::chkLimitSizeClick() {
    StoreFlag(schema::LimitMessageSizeEnabled, m_chkLimitSize->isChecked());
}

void MailboxesPage::edtLimitSizeExit() {
    StoreString(schema::LimitSize, FieldBytes(m_edtLimitSize));
}

void MailboxesPage::UpdateSmtpAuthFields() {
    // The user ID and password are used only with authentication.
    m_edtSMTPUserID->setEnabled(m_chkSMTPAuth->isChecked());
    m_edtSMTPPassword->setEnabled(m_chkSMTPAuth->isChecked());
}

void MailboxesPage::StoreSecurity(QComboBox* choice, const char* valueName, QLineEdit* port,
                                  const char* portValueName, const char* plainPort,
                                  const char* tlsPort) {
    const int index = choice->currentIndex();
    if (index < 0 || SelectedMailbox().isEmpty()) return;
    StoreString(valueName, kSecurityChoices[index].stored);
    // The usual port of the other kind of connection is offered only while the field still
    // shows the usual one of this kind; a port the user typed stays.
    const bool tls = index == kSecurityTlsIndex;
    const QString shown = port->text().trimmed();
    if (tls && shown == plainPort) {
        port->setText(tlsPort);
    } else if (!tls && shown == tlsPort) {
        port->setText(plainPort);
    } else {
        return;
    }
    StoreString(portValueName, port->text().toStdString());
}

void MailboxesPage::cmbPop3SecurityChange() {
    StoreSecurity(m_cmbPop3Security, schema::Pop3Security, m_edtPort, schema::Port,
                  schema::NewMailboxPort, kPop3TlsPort);
}

void MailboxesPage::cmbSMTPSecurityChange() {
    StoreSecurity(m_cmbSMTPSecurity, schema::SMTPSecurity, m_edtSMTPPort, schema::SMTPPort,
                  schema::NewMailboxSMTPPort, kSmtpTlsPort);
}

MailboxesPage::ConnectionFields MailboxesPage::ShownConnectionFields() const {
    ConnectionFields fields{
        SelectedMailbox(),         m_edtHost->text(), m_edtPort->text(), FieldBytes(m_edtUserID),
        FieldBytes(m_edtPassword), std::nullopt,      std::string()};
    const int index = m_cmbPop3Security->currentIndex();
    if (index >= 0) fields.security = ParseConnectionSecurity(kSecurityChoices[index].stored);
    if (!fields.mailbox.isEmpty()) {
        try {
            fields.certFingerprint =
                ReadRegString(m_context.Settings(), MailboxKey(), schema::Pop3CertFingerprint, "");
        } catch (const std::exception&) {
            // Without the pin a certificate the system does not trust is refused, and the
            // refusal says why: nothing is sent unprotected.
        }
    }
    return fields;
}

QString MailboxesPage::ShownSender() const {
    return m_edtSMTPFrom->text();
}

// ---- The filter order ----

void MailboxesPage::ShowFilterChoices(const QStringList& names) {
    m_cmbOperation->clear();
    m_cmbOperation->addItems(names);
    m_cmbOperation->setCurrentIndex(names.isEmpty() ? -1 : 0);
}

void MailboxesPage::ShowOperation(const std::vector<std::string>& lines, int selected) {
    m_operation = lines;
    const QSignalBlocker quiet(m_lstOperation);
    m_lstOperation->clear();
    for (const std::string& line : lines)
        m_lstOperation->addItem(QString::fromStdString(line));
    if (selected >= 0 && selected < m_lstOperation->count())
        m_lstOperation->setCurrentRow(selected);
}

int MailboxesPage::SelectedOperationRow() const {
    const QList<QListWidgetItem*> selected = m_lstOperation->selectedItems();
    return selected.isEmpty() ? -1 : m_lstOperation->row(selected.first());
}

void MailboxesPage::StoreOperationEdit(const LineListEdit& edit) {
    if (SelectedMailbox().isEmpty()) return;
    ShowingErrors(m_context.dialogs, [&] {
        WriteRegString(m_context.Settings(), MailboxKey(), schema::Operation,
                       JoinListValue(edit.lines));
        ShowOperation(edit.lines, edit.selected);
    });
}

void MailboxesPage::butAddOperationClick() {
    StoreOperationEdit(Appended(m_operation, m_cmbOperation->currentText().toStdString()));
}

void MailboxesPage::butInsOperationClick() {
    StoreOperationEdit(InsertedBefore(m_operation, SelectedOperationRow(),
                                      m_cmbOperation->currentText().toStdString()));
}

void MailboxesPage::butDelOperationClick() {
    StoreOperationEdit(Removed(m_operation, SelectedOperationRow()));
}

void MailboxesPage::butUpOperationClick() {
    StoreOperationEdit(MovedUp(m_operation, SelectedOperationRow()));
}

void MailboxesPage::butDownOperationClick() {
    StoreOperationEdit(MovedDown(m_operation, SelectedOperationRow()));
}

} // namespace zelm
