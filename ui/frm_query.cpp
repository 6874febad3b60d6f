#include "ui/frm_query.h"

#include <algorithm>
#include <exception>

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "messages/data_file.h"
#include "ui/dialogs.h"
#include "ui/filters_page.h"

namespace zelm {

/// How one mode labels, shows and sizes the dialog.
struct QueryMode {
    const char* caption;
    /// The caption when an existing action is edited; nullptr when the mode has no edit.
    const char* editCaption;
    const char* prompt;
    bool address;
    /// The label of `edtFrom`; nullptr hides the row.
    const char* fromLabel;
    bool subject;
    bool cc;
    bool attach;
    bool saveData;
    /// The body field with its editing aids.
    bool body;
    /// The dialog's height; 0 for the address box's top + 60.
    int height;
};

namespace {

const QueryMode kForwardMode{"Forward message",
                             "Forward message (edit)",
                             "Forward to:",
                             true,
                             nullptr,
                             false,
                             false,
                             false,
                             false,
                             false,
                             0};
const QueryMode kSendMode{"Send new message",
                          "Send new message (edit)",
                          "Send to:",
                          true,
                          "From",
                          true,
                          true,
                          true,
                          false,
                          true,
                          340};
const QueryMode kSaveMode{"Save data to file",
                          "Save data to file (edit)",
                          "Enter a name for the file to\r\nstore the retrievd data.",
                          false,
                          "File",
                          false,
                          false,
                          false,
                          true,
                          true,
                          340};
const QueryMode kReturnMode{"Return to sender",
                            nullptr,
                            "If you want to send only the original message,\r\nthen just delete "
                            "the contents of this message.",
                            false,
                            "From",
                            true,
                            false,
                            false,
                            false,
                            true,
                            340};

constexpr const char* kAddressEntries[] = {"{To}", "{From}", "{Reply-To}", "{Return-Path}"};
constexpr const char* kSubjectDefault = "Re: {Subject}";
constexpr const char* kAttachmentPrefix = "Attachment: ";
constexpr int kFormWidth = 407;
constexpr int kBelowAddressBox = 60;

QString Shown(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Stored(const QString& text) {
    return text.toStdString();
}

// The rest of line after its first count characters ("" when it is no longer).
std::string After(const std::vector<std::string>& lines, std::size_t index, std::size_t count) {
    if (index >= lines.size() || lines[index].size() <= count) return std::string();
    return lines[index].substr(count);
}

// The lines below the first empty one; none when there is no empty line.
std::vector<std::string> BelowFirstEmptyLine(const std::vector<std::string>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].empty())
            return {lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.end()};
    return {};
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QLabel* Label(const char* name, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TfrmQuery::TfrmQuery(WindowContext& context, FiltersPage& filters, QWidget* mainWindow)
    : QDialog(mainWindow), m_context(context), m_filters(filters), m_mainWindow(mainWindow) {
    setObjectName("frmQuery");
    setModal(false);

    m_cmbQuery = new QComboBox(this);
    m_cmbQuery->setObjectName("cmbQuery");
    m_cmbQuery->setEditable(true);
    // Enter confirms the dialog; it must not also add the typed text as an entry.
    m_cmbQuery->setInsertPolicy(QComboBox::NoInsert);
    m_lblQuery = Label("lblQuery", m_cmbQuery, this);
    m_butQueryOK = Button(tr("OK"), "butQueryOK", this);
    m_butQueryOK->setDefault(true);
    m_butQueryCancel = Button(tr("Cancel"), "butQueryCancel", this);

    auto* top = new QHBoxLayout;
    top->addWidget(m_cmbQuery, 1);
    top->addStretch();
    top->addWidget(m_butQueryOK);
    top->addWidget(m_butQueryCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblQuery);
    layout->addLayout(top);
    layout->addWidget(BuildFields());
    layout->addWidget(m_memoOutMessage = new QPlainTextEdit(this), 1);
    layout->addWidget(BuildAids());
    // Takes what the forward mode's height leaves over, so the address box stays in place.
    layout->addStretch();

    m_memoOutMessage->setObjectName("memoOutMessage");
    m_memoOutMessage->setAccessibleName(tr("Message"));
    m_memoOutMessage->setLineWrapMode(QPlainTextEdit::NoWrap);

    connect(m_butQueryOK, &QPushButton::clicked, this, &TfrmQuery::butQueryOKClick);
    connect(m_butQueryCancel, &QPushButton::clicked, this, &TfrmQuery::butQueryCancelClick);
    connect(m_memoOutMessage, &QPlainTextEdit::textChanged, this, &TfrmQuery::memoOutMessageChange);
    // The text extraction editor's names reach the variable list at once.
    connect(&m_filters, &FiltersPage::variableNamesChanged, this, &TfrmQuery::RebuildVariables);

    ApplyMode(kForwardMode, false);
}

QWidget* TfrmQuery::BuildFields() {
    m_fields = new QWidget(this);
    m_edtFrom = new QLineEdit(m_fields);
    m_edtFrom->setObjectName("edtFrom");
    m_lblFrom = Label("lblFrom", m_edtFrom, m_fields);
    m_butSaveData = Button(tr("&Browse..."), "butSaveData", m_fields);
    m_butSaveData->setAccessibleName(tr("Choose the file"));
    m_edtSubject = new QLineEdit(m_fields);
    m_edtSubject->setObjectName("edtSubject");
    m_lblSubject = Label("lblSubject", m_edtSubject, m_fields);
    m_lblSubject->setText(tr("Subject"));
    m_edtCc = new QLineEdit(m_fields);
    m_edtCc->setObjectName("edtCc");
    m_lblCc = Label("lblCc", m_edtCc, m_fields);
    m_lblCc->setText(tr("Cc"));

    auto* grid = new QGridLayout(m_fields);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(m_lblFrom, 0, 0);
    grid->addWidget(m_edtFrom, 0, 1);
    grid->addWidget(m_butSaveData, 0, 2);
    grid->addWidget(m_lblSubject, 1, 0);
    grid->addWidget(m_edtSubject, 1, 1, 1, 2);
    grid->addWidget(m_lblCc, 2, 0);
    grid->addWidget(m_edtCc, 2, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    connect(m_butSaveData, &QPushButton::clicked, this, &TfrmQuery::butSaveDataClick);
    return m_fields;
}

QWidget* TfrmQuery::BuildAids() {
    m_aids = new QWidget(this);
    m_cmbVariables = new QComboBox(m_aids);
    m_cmbVariables->setObjectName("cmbVariables");
    m_cmbVariables->setMinimumContentsLength(10);
    m_lblVariables = Label("lblVariables", m_cmbVariables, m_aids);
    m_lblVariables->setText(tr("Variables"));
    m_butAddVar = Button("+", "butAddVar", m_aids);
    m_butAddVar->setToolTip(tr("Add to message"));
    m_butAddVar->setAccessibleName(tr("Add to message"));
    m_butAddVar->setFixedWidth(m_butAddVar->fontMetrics().horizontalAdvance("+") + 20);
    m_butDate = Button(tr("Date Stamp"), "butDate", m_aids);
    m_butTime = Button(tr("Time Stamp"), "butTime", m_aids);
    m_butAttach = Button(tr("Attachment"), "butAttach", m_aids);

    auto* row = new QHBoxLayout(m_aids);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_lblVariables);
    row->addWidget(m_cmbVariables, 1);
    row->addWidget(m_butAddVar);
    row->addWidget(m_butDate);
    row->addWidget(m_butTime);
    row->addWidget(m_butAttach);

    connect(m_butAddVar, &QPushButton::clicked, this, &TfrmQuery::butAddVarClick);
    connect(m_butDate, &QPushButton::clicked, this, &TfrmQuery::butDateClick);
    connect(m_butTime, &QPushButton::clicked, this, &TfrmQuery::butTimeClick);
    connect(m_butAttach, &QPushButton::clicked, this, &TfrmQuery::butAttachClick);
    return m_aids;
}

void TfrmQuery::SetMailboxSource(std::function<QString()> selectedMailbox) {
    m_selectedMailbox = std::move(selectedMailbox);
}

// ---- Opening ----

void TfrmQuery::ApplyMode(const QueryMode& mode, bool edit) {
    setWindowTitle(QString::fromLatin1(edit && mode.editCaption ? mode.editCaption : mode.caption));
    m_lblQuery->setText(QString::fromLatin1(mode.prompt));
    m_cmbQuery->setVisible(mode.address);
    m_lblFrom->setVisible(mode.fromLabel != nullptr);
    m_edtFrom->setVisible(mode.fromLabel != nullptr);
    if (mode.fromLabel != nullptr) m_lblFrom->setText(tr(mode.fromLabel));
    m_lblSubject->setVisible(mode.subject);
    m_edtSubject->setVisible(mode.subject);
    m_lblCc->setVisible(mode.cc);
    m_edtCc->setVisible(mode.cc);
    m_butSaveData->setVisible(mode.saveData);
    m_fields->setVisible(mode.fromLabel != nullptr || mode.subject || mode.cc);
    m_memoOutMessage->setVisible(mode.body);
    m_aids->setVisible(mode.body);
    m_butAttach->setVisible(mode.attach);
    m_editedTemplate.clear();
    if (mode.address) {
        m_cmbQuery->clear();
        for (const char* entry : kAddressEntries)
            m_cmbQuery->addItem(QString::fromLatin1(entry));
        m_cmbQuery->setCurrentText(QString());
    }
    // Every mode but forwarding starts from an empty body.
    if (mode.body) m_memoOutMessage->clear();

    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    layout()->activate();
    int height = mode.height;
    if (height == 0) {
        // Only the prompt, the address box and the two buttons stay in sight.
        height = m_cmbQuery->geometry().top() + kBelowAddressBox;
    }
    setFixedSize(std::max(kFormWidth, layout()->minimumSize().width()),
                 std::max(height, layout()->minimumSize().height()));
}

void TfrmQuery::OpenForward(bool edit, const std::string& address) {
    ApplyMode(kForwardMode, edit);
    if (edit) m_cmbQuery->setCurrentText(Shown(address));
    ShowInFront();
}

bool TfrmQuery::OpenSendMessage(bool edit) {
    std::vector<std::string> lines;
    std::string path;
    if (edit) {
        const int row = m_filters.SelectedActionRow();
        if (row < 0) return false;
        path = TemplatePathFromActionLine(m_context.engine.programDir,
                                          m_filters.ActionLines()[static_cast<std::size_t>(row)]);
        if (!LoadTemplate(path, lines)) return false;
    }
    ApplyMode(kSendMode, edit);
    if (edit) {
        m_editedTemplate = path;
        const MessageTemplate message = ParseMessageTemplate(lines);
        m_edtFrom->setText(Shown(message.from));
        m_edtSubject->setText(Shown(message.subject));
        m_cmbQuery->setCurrentText(Shown(message.to));
        m_edtCc->setText(Shown(message.cc));
        ShowBody(message.body);
    } else {
        m_edtFrom->setText("{To}");
        m_edtSubject->setText(kSubjectDefault);
        m_edtCc->clear();
    }
    ShowInFront();
    return true;
}

bool TfrmQuery::OpenSaveData(bool edit) {
    std::vector<std::string> lines;
    std::string path;
    if (edit) {
        const int row = m_filters.SelectedActionRow();
        if (row < 0) return false;
        path = TemplatePathFromActionLine(m_context.engine.programDir,
                                          m_filters.ActionLines()[static_cast<std::size_t>(row)]);
        if (!LoadTemplate(path, lines)) return false;
    }
    ApplyMode(kSaveMode, edit);
    m_edtFrom->clear();
    if (edit) {
        m_editedTemplate = path;
        if (!lines.empty()) {
            m_edtFrom->setText(Shown(lines.front()));
            lines.erase(lines.begin());
        }
        ShowBody(lines);
    }
    ShowInFront();
    return true;
}

void TfrmQuery::OpenReturnToSender() {
    ApplyMode(kReturnMode, false);
    m_edtFrom->clear();
    m_edtSubject->setText(kSubjectDefault);
    ShowingErrors(m_context.dialogs, [this] { m_edtFrom->setText(Shown(SenderText())); });
    ShowInFront();
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) return;
    ShowingErrors(m_context.dialogs, [&] {
        const std::string path = DataFilePath(m_context.engine.programDir, mailbox);
        if (ReadSection(path, kSectionRejectText).empty()) return;
        const std::vector<std::string> lines = ReadSectionLines(path, kSectionRejectText);
        m_edtFrom->setText(Shown(After(lines, 0, 6)));
        m_edtSubject->setText(Shown(After(lines, 1, 9)));
        ShowBody(BelowFirstEmptyLine(lines));
        m_memoOutMessage->moveCursor(QTextCursor::Start);
        m_memoOutMessage->verticalScrollBar()->setValue(0);
    });
}

bool TfrmQuery::LoadTemplate(const std::string& path, std::vector<std::string>& lines) {
    if (ReadFileIfExists(path) == std::nullopt) {
        m_context.dialogs.ShowMessage(
            tr("The template file \"%1\" of this action is missing, so the action cannot be "
               "edited. Delete the action and add it again.")
                .arg(Shown(path)));
        return false;
    }
    bool read = false;
    ShowingErrors(m_context.dialogs, [&] {
        lines = ReadTextLines(path);
        read = true;
    });
    return read;
}

void TfrmQuery::ShowInFront() {
    // On every showing: the names as they are now, the place beside the main window and the
    // attachment rule for the body just loaded.
    RebuildVariables();
    if (m_mainWindow != nullptr) move(m_mainWindow->pos() + QPoint(50, 100));
    memoOutMessageChange();
    show();
    raise();
    activateWindow();
}

void TfrmQuery::RebuildVariables() {
    m_cmbVariables->clear();
    for (const std::string& name : m_filters.VariableNames())
        m_cmbVariables->addItem(Shown(name));
}

// ---- Editing aids ----

void TfrmQuery::butAddVarClick() {
    if (m_cmbVariables->currentIndex() < 0) return;
    m_memoOutMessage->insertPlainText("{" + m_cmbVariables->currentText() + "}");
    m_memoOutMessage->setFocus();
}

void TfrmQuery::butDateClick() {
    m_memoOutMessage->insertPlainText("{DateStamp}");
    m_memoOutMessage->setFocus();
}

void TfrmQuery::butTimeClick() {
    m_memoOutMessage->insertPlainText("{TimeStamp}");
    m_memoOutMessage->setFocus();
}

void TfrmQuery::butAttachClick() {
    const QString file =
        m_context.dialogs.ChooseFileToOpen(tr("Attachment"), QString(), tr("All files (*)"));
    if (file.isEmpty()) return;
    std::vector<std::string> lines = BodyLines();
    lines.insert(lines.begin(), kAttachmentPrefix + Stored(file));
    ShowBody(lines);
}

void TfrmQuery::memoOutMessageChange() {
    // At most one attachment: the button waits while the first line names one.
    const QString first = m_memoOutMessage->toPlainText().section('\n', 0, 0);
    m_butAttach->setEnabled(!first.toLower().startsWith("attachment:"));
}

void TfrmQuery::butSaveDataClick() {
    const QString file = m_context.dialogs.ChooseFileToSave(tr("Save data to file"),
                                                            m_edtFrom->text(), tr("All files (*)"));
    if (!file.isEmpty()) m_edtFrom->setText(file);
}

void TfrmQuery::butQueryCancelClick() {
    reject();
}

// ---- OK ----

void TfrmQuery::butQueryOKClick() {
    const QString caption = windowTitle();
    const bool edit = caption.contains("edit");
    ShowingErrors(m_context.dialogs, [&] {
        if (caption.contains("Forward message")) {
            StoreForward(edit);
        } else if (caption.contains("Send new message")) {
            StoreMessageTemplate(edit);
        } else if (caption.contains("Save data")) {
            StoreSaveDataTemplate(edit);
        } else if (caption.contains("Return to sender")) {
            StoreRejectText();
        }
    });
}

bool TfrmQuery::FilterSelected() {
    if (!m_filters.SelectedFilter().empty()) return true;
    // Nothing is written for no filter: a template without its action line would be lost.
    m_context.dialogs.ShowMessage(tr("Please select the filter on the Filters page first."));
    return false;
}

void TfrmQuery::StoreForward(bool edit) {
    const QString address = m_cmbQuery->currentText();
    if (address.trimmed().isEmpty()) return;
    if (!FilterSelected()) return;
    std::vector<std::string> actions = m_filters.ActionLines();
    const int row = m_filters.SelectedActionRow();
    if (edit && row >= 0) actions.erase(actions.begin() + row);
    actions.push_back("Fwd to: " + Stored(address));
    WarnWithoutSenderAddress();
    accept();
    m_filters.StoreActions(actions);
}

void TfrmQuery::StoreMessageTemplate(bool edit) {
    if (!FilterSelected()) return;
    const std::string& programDir = m_context.engine.programDir;
    std::vector<std::string> actions = m_filters.ActionLines();
    std::string path = m_editedTemplate;
    if (!edit || path.empty()) {
        const std::string name = NewTemplateName(programDir, TemplateKind::Message);
        path = programDir + name;
        actions.push_back("Send msg: " + name.substr(0, 6));
    }
    WriteTextLines(path,
                   MessageTemplateLines({Stored(m_edtFrom->text()), Stored(m_edtSubject->text()),
                                         Stored(m_cmbQuery->currentText()), Stored(m_edtCc->text()),
                                         BodyLines()}));
    WarnWithoutSenderAddress();
    accept();
    m_filters.StoreActions(actions);
}

void TfrmQuery::StoreSaveDataTemplate(bool edit) {
    if (!FilterSelected()) return;
    const std::string& programDir = m_context.engine.programDir;
    std::vector<std::string> actions = m_filters.ActionLines();
    std::string path = m_editedTemplate;
    if (!edit || path.empty()) {
        const std::string name = NewTemplateName(programDir, TemplateKind::SaveData);
        path = programDir + name;
        actions.push_back("Save data: " + name.substr(0, 6));
    }
    WriteTextLines(path, SaveDataTemplateLines({Stored(m_edtFrom->text()), BodyLines()}));
    accept();
    m_filters.StoreActions(actions);
}

void TfrmQuery::StoreRejectText() {
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) {
        m_context.dialogs.ShowMessage(
            tr("Please choose or create a mailbox on the Mailboxes page first."));
        return;
    }
    std::vector<std::string> lines{"From: " + Stored(m_edtFrom->text()),
                                   "Subject: " + Stored(m_edtSubject->text()), std::string()};
    const std::vector<std::string> body = BodyLines();
    lines.insert(lines.end(), body.begin(), body.end());
    WriteSection(DataFilePath(m_context.engine.programDir, mailbox), kSectionRejectText, lines);
    accept();
}

void TfrmQuery::WarnWithoutSenderAddress() {
    // Only a reminder: a store that cannot be read must not keep the action from being stored.
    std::string sender;
    try {
        sender = SenderText();
    } catch (const std::exception&) {
        return;
    }
    if (sender.find('@') != std::string::npos) return;
    m_context.dialogs.ShowMessage(
        "Please enter a valid address (e.g. you@example.com) for the outgoing\r\n message. You "
        "can do this from the SMTP section in the Mailboxes tab.");
}

std::string TfrmQuery::SelectedMailbox() const {
    return m_selectedMailbox ? Stored(m_selectedMailbox()) : std::string();
}

std::string TfrmQuery::SenderText() const {
    // The Mailboxes page stores the sender field the moment it is left, so the store holds
    // what the field shows.
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) return std::string();
    return ReadRegString(m_context.Settings(), MailboxKeyPath(mailbox), schema::SMTPFrom, "");
}

// ---- The body field as lines ----

std::vector<std::string> TfrmQuery::BodyLines() const {
    // As a list of lines, a final line break ends the last line rather than starting another.
    const std::string text = Stored(m_memoOutMessage->toPlainText());
    std::vector<std::string> lines;
    if (text.empty()) return lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void TfrmQuery::ShowBody(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    // A last line that is empty needs its own line break to survive BodyLines.
    if (!lines.empty() && lines.back().empty()) text += '\n';
    m_memoOutMessage->setPlainText(Shown(text));
}

} // namespace zelm
