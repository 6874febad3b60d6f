#include "ui/frm_text_proc.h"

#include <algorithm>

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "session/text_extraction.h"
#include "ui/dialogs.h"
#include "ui/filters_page.h"
#include "ui/name_prompt.h"

namespace zelm {
namespace {

constexpr const char* kCommands[] = {
    "Back # of chars",      "Back # of lines",     "Forward # of chars",  "Forward # of lines",
    "Go to line end",       "Go to line start",    "Go to msg end",       "Go to msg start",
    "Go to string in line", "Go to string in msg", "Text extraction end", "Text extraction start"};
constexpr const char* kAddCaption = "Extract text from message body";
constexpr const char* kExtractAction = "Extract text from body";

bool StartsWith(const QString& text, const char* prefix) {
    return text.startsWith(QLatin1String(prefix));
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TfrmTextProc::TfrmTextProc(WindowContext& context, FiltersPage& filters, QWidget* mainWindow)
    : QDialog(mainWindow), m_context(context), m_filters(filters), m_mainWindow(mainWindow) {
    setObjectName("frmTextProc");
    setModal(false);
    setWindowTitle(QString::fromLatin1(kAddCaption));

    m_cmbTextProc = new QComboBox(this);
    m_cmbTextProc->setObjectName("cmbTextProc");
    for (const char* command : kCommands)
        m_cmbTextProc->addItem(QString::fromLatin1(command));
    auto* commandLabel = new QLabel(tr("&Command"), this);
    commandLabel->setBuddy(m_cmbTextProc);
    m_butAddText = Button(tr("&Add"), "butAddText", this);
    m_butAddText->setAccessibleName(tr("Add command"));

    m_lstTextActions = new QListWidget(this);
    m_lstTextActions->setObjectName("lstTextActions");
    auto* listLabel = new QLabel(tr("Text processing actions"), this);
    listLabel->setBuddy(m_lstTextActions);
    m_lstTextActions->setAccessibleName(listLabel->text());
    m_butUpText = Button(tr("&Up"), "butUpText", this);
    m_butUpText->setAccessibleName(tr("Move up"));
    m_butDownText = Button(tr("&Down"), "butDownText", this);
    m_butDownText->setAccessibleName(tr("Move down"));
    m_butDelText = Button(tr("De&lete"), "butDelText", this);
    m_butTextOK = Button(tr("OK"), "butTextOK", this);
    m_butTextOK->setDefault(true);
    m_butTextCancel = Button(tr("Cancel"), "butTextCancel", this);

    auto* command = new QHBoxLayout;
    command->addWidget(m_cmbTextProc, 1);
    command->addWidget(m_butAddText);
    auto* moves = new QVBoxLayout;
    moves->addWidget(m_butUpText);
    moves->addWidget(m_butDownText);
    moves->addWidget(m_butDelText);
    moves->addStretch();
    auto* routine = new QHBoxLayout;
    routine->addWidget(m_lstTextActions, 1);
    routine->addLayout(moves);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_butTextOK);
    buttons->addWidget(m_butTextCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(commandLabel);
    layout->addLayout(command);
    layout->addWidget(listLabel);
    layout->addLayout(routine, 1);
    layout->addLayout(buttons);
    resize(380, 320);

    connect(m_butAddText, &QPushButton::clicked, this, &TfrmTextProc::butAddTextClick);
    connect(m_butUpText, &QPushButton::clicked, this, &TfrmTextProc::butUpTextClick);
    connect(m_butDownText, &QPushButton::clicked, this, &TfrmTextProc::butDownTextClick);
    connect(m_butDelText, &QPushButton::clicked, this, &TfrmTextProc::butDelTextClick);
    connect(m_butTextOK, &QPushButton::clicked, this, &TfrmTextProc::butTextOKClick);
    connect(m_butTextCancel, &QPushButton::clicked, this, &TfrmTextProc::butTextCancelClick);
}

void TfrmTextProc::Open(bool edit) {
    if (!edit) {
        setWindowTitle(QString::fromLatin1(kAddCaption));
    } else if (!windowTitle().contains("edit")) {
        setWindowTitle(windowTitle() + "[edit]");
    }
    m_cmbTextProc->setCurrentIndex(0);
    if (m_mainWindow != nullptr) move(m_mainWindow->pos() + QPoint(150, 50));
    std::vector<std::string> lines;
    ShowingErrors(m_context.dialogs, [&] {
        if (!m_filters.SelectedFilter().empty())
            lines = SplitListValue(ReadRegString(
                m_context.Settings(), m_filters.SelectedFilterKeyPath(), schema::TextExtract, ""));
    });
    ShowLines(std::move(lines), -1);
    show();
    raise();
    activateWindow();
}

// ---- Building the routine ----

std::string TfrmTextProc::AskArgument(const QString& caption, const QString& prompt,
                                      bool& accepted) {
    const std::optional<QString> answer = m_context.dialogs.AskLine(caption, prompt, QString());
    accepted = answer.has_value();
    return accepted ? answer->toStdString() : std::string();
}

void TfrmTextProc::butAddTextClick() {
    const QString entry = m_cmbTextProc->currentText();
    const std::string command = entry.toStdString();
    std::string line;
    if (entry.contains("Go to msg") || entry.contains("Go to line")) {
        line = command;
    } else if (StartsWith(entry, "Forward") || StartsWith(entry, "Back")) {
        bool accepted = false;
        const std::string count =
            AskArgument("Go " + entry.toLower(), tr("Enter an integer"), accepted);
        if (!accepted) return;
        line = command + ": " + count;
    } else if (StartsWith(entry, "Go to string")) {
        bool accepted = false;
        const std::string search = AskArgument(entry, tr("Search string"), accepted);
        if (!accepted) return;
        line = command + ": " + search;
    } else if (StartsWith(entry, "Text extraction start")) {
        const std::optional<std::string> name = AskNewName(
            m_context.dialogs,
            {entry, tr("Enter a variable name to hold the extracted text."),
             tr("Please enter a name.")},
            m_filters.VariableNames(), {}, QString::fromStdString(m_currentVariableName));
        if (!name) return;
        m_currentVariableName = *name;
        line = command + " (" + *name + ")";
    } else if (StartsWith(entry, "Text extraction end")) {
        line = command + " (" + m_currentVariableName + ")";
    } else {
        return;
    }
    std::vector<std::string> lines = m_lines;
    lines.push_back(line);
    const int last = static_cast<int>(lines.size()) - 1;
    ShowLines(std::move(lines), last);
}

void TfrmTextProc::butDelTextClick() {
    const int row = SelectedRow();
    if (row < 0) return;
    std::vector<std::string> lines = m_lines;
    lines.erase(lines.begin() + row);
    ShowLines(std::move(lines), -1);
}

void TfrmTextProc::butUpTextClick() {
    const int row = SelectedRow();
    if (row <= 0) return;
    std::vector<std::string> lines = m_lines;
    std::swap(lines[static_cast<std::size_t>(row)], lines[static_cast<std::size_t>(row - 1)]);
    // The line stays selected, so it can be moved on.
    ShowLines(std::move(lines), row - 1);
}

void TfrmTextProc::butDownTextClick() {
    const int row = SelectedRow();
    if (row < 0 || row + 1 >= static_cast<int>(m_lines.size())) return;
    std::vector<std::string> lines = m_lines;
    std::swap(lines[static_cast<std::size_t>(row)], lines[static_cast<std::size_t>(row + 1)]);
    ShowLines(std::move(lines), row + 1);
}

// ---- OK and Cancel ----

void TfrmTextProc::butTextOKClick() {
    if (m_filters.SelectedFilter().empty()) {
        m_context.dialogs.ShowMessage(tr("Please select the filter on the Filters page first."));
        return;
    }
    ShowingErrors(m_context.dialogs, [this] {
        SettingsDb& db = m_context.Settings();
        const std::string key = m_filters.SelectedFilterKeyPath();
        WriteRegString(db, key, schema::TextExtract, JoinListValue(m_lines));
        accept();
        std::vector<std::string> actions = m_filters.ActionLines();
        // A filter has one routine: an add while the filter already shows its action line
        // (another filter was chosen meanwhile) adds no second one.
        const bool present =
            std::any_of(actions.begin(), actions.end(), [](const std::string& action) {
                return EqualsNoCase(action, kExtractAction);
            });
        if (!windowTitle().contains("edit") && !present) actions.push_back(kExtractAction);
        m_filters.StoreActions(actions);
        const std::vector<std::string> names = TextVarNamesOf(m_lines);
        WriteRegString(db, key, schema::TextVarNames, JoinListValue(names));
        m_filters.SetTextVariableNames(names);
    });
}

void TfrmTextProc::butTextCancelClick() {
    reject();
}

// ---- The list ----

void TfrmTextProc::ShowLines(std::vector<std::string> lines, int selected) {
    m_lines = std::move(lines);
    const QSignalBlocker blocker(m_lstTextActions);
    m_lstTextActions->clear();
    for (const std::string& line : m_lines)
        m_lstTextActions->addItem(QString::fromStdString(line));
    if (selected >= 0 && selected < m_lstTextActions->count())
        m_lstTextActions->setCurrentRow(selected);
}

int TfrmTextProc::SelectedRow() const {
    const QList<QListWidgetItem*> selected = m_lstTextActions->selectedItems();
    return selected.isEmpty() ? -1 : m_lstTextActions->row(selected.first());
}

} // namespace zelm
