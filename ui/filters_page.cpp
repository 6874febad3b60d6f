#include "ui/filters_page.h"

#include <algorithm>
#include <iterator>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
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
#include "messages/data_file.h"
#include "ui/dialogs.h"
#include "ui/frm_query.h"
#include "ui/frm_text_proc.h"
#include "ui/line_list_edit.h"
#include "ui/name_prompt.h"

namespace zelm {
namespace {

// The connector column of a rule line is six characters wide.
constexpr const char* kConnectors[] = {"      ", "AND   ", "OR    "};
constexpr const char* kSizeField = "Size";
constexpr const char* kTextComparisons[] = {"contains", "does not contain"};
constexpr const char* kSizeComparisons[] = {"is greater than", "is less than"};

constexpr const char* kActionKinds[] = {"Delete message",           "Extract text from body",
                                        "Forward message",          "Run external program",
                                        "Save data to file",        "Send new email message",
                                        "Stop (go to next message)"};
constexpr const char* kDeleteLine = "Delete message";
constexpr const char* kStopLine = "Stop (go to next message)";
constexpr const char* kExtractLine = "Extract text from body";
constexpr const char* kExtProgPrefix = "Ext prog: ";
constexpr std::size_t kFwdPrefixLength = 8; // "Fwd to: "

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool NamesTemplate(const std::string& actionLine) {
    return StartsWith(actionLine, "Send msg") || StartsWith(actionLine, "Save data");
}

// A line break inside a rule or action line would split it into two lines of the stored list.
bool HoldsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

std::string HeaderFieldRefusal(const std::string& name) {
    const bool control = std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 32 || c == 127;
    });
    return control ? "A header field name must not hold control characters." : "";
}

bool IsProtectedHeaderField(const std::string& name) {
    return std::find(kBuiltInHeaderFields.begin(), kBuiltInHeaderFields.end(), name) !=
           kBuiltInHeaderFields.end();
}

QStringList ToQStrings(const std::vector<std::string>& lines) {
    QStringList shown;
    shown.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        shown.append(QString::fromStdString(line));
    return shown;
}

void ShowLines(QListWidget* list, const std::vector<std::string>& lines, int selected = -1) {
    const QSignalBlocker blocker(list);
    list->clear();
    list->addItems(ToQStrings(lines));
    if (selected >= 0 && selected < list->count()) list->setCurrentRow(selected);
}

int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

// A list as tall as rows lines of its font: the window's fixed size follows from these.
void ShowRows(QListWidget* list, int rows) {
    list->setMaximumHeight(list->fontMetrics().lineSpacing() * rows + 2 * list->frameWidth() + 4);
}

QLabel* BuddyLabel(const QString& caption, QWidget* buddy) {
    auto* label = new QLabel(caption);
    label->setBuddy(buddy);
    return label;
}

} // namespace

FiltersPage::FiltersPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_headerFields(BuiltInHeaderFieldList()) {
    setObjectName("tabFilters");
    auto* right = new QVBoxLayout;
    right->addWidget(BuildRuleGroup());
    right->addWidget(BuildActionGroup());
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(BuildFilterGroup());
    layout->addLayout(right, 1);

    ShowHeaderFields("From");
    RebuildVariableNames();
    UpdateButtons();
}

QWidget* FiltersPage::BuildFilterGroup() {
    auto* group = new QGroupBox(tr("Filters"), this);
    m_lstFilters = new QListWidget(group);
    m_lstFilters->setObjectName("lstFilters");
    m_lstFilters->setAccessibleName(tr("Filters"));
    m_lstFilters->setMaximumWidth(m_lstFilters->fontMetrics().horizontalAdvance(QString(24, 'n')));
    m_butNewFilter = AddButton("butNewFilter", tr("&New"), QString(), tr("New filter"),
                               &FiltersPage::butNewFilterClick);
    m_butDelFilter = AddButton("butDelFilter", tr("De&lete"), QString(), tr("Delete filter"),
                               &FiltersPage::butDelFilterClick);
    // By mouse or keyboard; filling the list selects nothing and so reads nothing.
    connect(m_lstFilters, &QListWidget::itemSelectionChanged, this, &FiltersPage::lstFiltersClick);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_butNewFilter);
    buttons->addWidget(m_butDelFilter);
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_lstFilters);
    layout->addLayout(buttons);
    return group;
}

QWidget* FiltersPage::BuildRuleGroup() {
    auto* group = new QGroupBox(tr("Rules"), this);
    const QFont fixedPitch = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    m_lstFilterConditions = new QListWidget(group);
    m_lstFilterConditions->setObjectName("lstFilterConditions");
    m_lstFilterConditions->setFont(fixedPitch);
    m_lstFilterConditions->setAccessibleName(tr("Rules"));
    ShowRows(m_lstFilterConditions, 8);

    m_cmbAndOr = new QComboBox(group);
    m_cmbAndOr->setObjectName("cmbAndOr");
    m_cmbAndOr->setFont(fixedPitch);
    for (const char* connector : kConnectors)
        m_cmbAndOr->addItem(QString::fromLatin1(connector));

    m_cmbRulesField = new QComboBox(group);
    m_cmbRulesField->setObjectName("cmbRulesField");
    m_cmbRulesField->setMinimumContentsLength(12);
    m_cmbRulesContains = new QComboBox(group);
    m_cmbRulesContains->setObjectName("cmbRulesContains");
    m_cmbRulesContains->setMinimumContentsLength(16);
    m_edtCompText = new QLineEdit(group);
    m_edtCompText->setObjectName("edtCompText");

    m_butAddHeaderField =
        AddButton("butAddHeaderField", "+", tr("Add new header field"), tr("Add new header field"),
                  &FiltersPage::butAddHeaderFieldClick);
    m_butDelHeaderField =
        AddButton("butDelHeaderField", "-", tr("Remove selected header field"),
                  tr("Remove selected header field"), &FiltersPage::butDelHeaderFieldClick);
    for (QPushButton* small : {m_butAddHeaderField, m_butDelHeaderField})
        small->setFixedWidth(small->fontMetrics().horizontalAdvance("+") + 20);

    m_ruleButtons = {
        AddButton("butAddFilterRule", tr("Add"), tr("Add"), tr("Add rule"),
                  &FiltersPage::butAddFilterRuleClick),
        AddButton("butInsFilterRule", tr("Insert"), tr("Insert"), tr("Insert rule"),
                  &FiltersPage::butInsFilterRuleClick),
        AddButton("butDelFilterRule", tr("Delete"), tr("Delete"), tr("Delete rule"),
                  &FiltersPage::butDelFilterRuleClick),
        AddButton("butUpFilterRule", tr("Up"), tr("Move up"), tr("Move rule up"),
                  &FiltersPage::butUpFilterRuleClick),
        AddButton("butDownFilterRule", tr("Down"), tr("Move down"), tr("Move rule down"),
                  &FiltersPage::butDownFilterRuleClick),
    };

    connect(m_cmbRulesField, &QComboBox::currentIndexChanged, this,
            &FiltersPage::cmbRulesFieldChange);
    connect(m_cmbAndOr, &QComboBox::currentIndexChanged, this, &FiltersPage::cmbAndOrChange);

    // A combo box is read out by the entry it shows; its label says what it is for.
    auto* builder = new QGridLayout;
    builder->addWidget(BuddyLabel(tr("Connector"), m_cmbAndOr), 0, 0);
    builder->addWidget(BuddyLabel(tr("Header field"), m_cmbRulesField), 0, 1);
    builder->addWidget(BuddyLabel(tr("Comparison"), m_cmbRulesContains), 0, 4);
    builder->addWidget(BuddyLabel(tr("Comparison &text"), m_edtCompText), 0, 5);
    builder->addWidget(m_cmbAndOr, 1, 0);
    builder->addWidget(m_cmbRulesField, 1, 1);
    builder->addWidget(m_butAddHeaderField, 1, 2);
    builder->addWidget(m_butDelHeaderField, 1, 3);
    builder->addWidget(m_cmbRulesContains, 1, 4);
    builder->addWidget(m_edtCompText, 1, 5);
    builder->setColumnStretch(5, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : m_ruleButtons)
        buttons->addWidget(button);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_lstFilterConditions);
    layout->addLayout(builder);
    layout->addLayout(buttons);
    return group;
}

QWidget* FiltersPage::BuildActionGroup() {
    auto* group = new QGroupBox(tr("Actions"), this);
    m_lstActions = new QListWidget(group);
    ShowRows(m_lstActions, 6);
    m_lstActions->setObjectName("lstActions");
    m_cmbResponse = new QComboBox(group);
    m_cmbResponse->setObjectName("cmbResponse");
    m_lstActions->setAccessibleName(tr("Actions"));
    for (const char* kind : kActionKinds)
        m_cmbResponse->addItem(QString::fromLatin1(kind));

    m_butAddActions = AddButton("butAddActions", tr("Add"), tr("Add"), tr("Add action"),
                                &FiltersPage::butAddActionsClick);
    m_butEditActions = AddButton("butEditActions", tr("Edit"), tr("Edit"), tr("Edit action"),
                                 &FiltersPage::butEditActionsClick);
    m_butDelActions = AddButton("butDelActions", tr("Delete"), tr("Delete"), tr("Delete action"),
                                &FiltersPage::butDelActionsClick);
    m_butUpActions = AddButton("butUpActions", tr("Up"), tr("Move up"), tr("Move action up"),
                               &FiltersPage::butUpActionsClick);
    m_butDownActions = AddButton("ButDownActions", tr("Down"), tr("Move down"),
                                 tr("Move action down"), &FiltersPage::ButDownActionsClick);
    connect(m_lstActions, &QListWidget::itemSelectionChanged, this, &FiltersPage::lstActionsClick);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BuddyLabel(tr("Action"), m_cmbResponse));
    buttons->addWidget(m_cmbResponse);
    for (QPushButton* button :
         {m_butAddActions, m_butEditActions, m_butDelActions, m_butUpActions, m_butDownActions})
        buttons->addWidget(button);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_lstActions);
    layout->addLayout(buttons);
    return group;
}

QPushButton* FiltersPage::AddButton(const char* name, const QString& caption, const QString& hint,
                                    const QString& accessibleName, void (FiltersPage::*handler)()) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    if (!hint.isEmpty()) button->setToolTip(hint);
    button->setAccessibleName(accessibleName);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void FiltersPage::SetActionDialogs(TfrmQuery* query, TfrmTextProc* textProc) {
    m_query = query;
    m_textProc = textProc;
}

void FiltersPage::SetMailboxSource(std::function<QString()> selectedMailbox) {
    m_selectedMailbox = std::move(selectedMailbox);
}

std::string FiltersPage::SelectedMailbox() const {
    return m_selectedMailbox ? m_selectedMailbox().toStdString() : std::string();
}

std::string FiltersPage::SelectedFilter() const {
    const int row = SelectedRow(m_lstFilters);
    return row < 0 ? std::string() : m_filterNames[static_cast<std::size_t>(row)];
}

std::string FiltersPage::SelectedFilterKeyPath() const {
    return FilterKeyPath(SelectedMailbox(), SelectedFilter());
}

int FiltersPage::SelectedRuleRow() const {
    return SelectedRow(m_lstFilterConditions);
}

int FiltersPage::SelectedActionRow() const {
    return SelectedRow(m_lstActions);
}

// ---- The header field list ----

std::vector<std::string> FiltersPage::HeaderFieldNames() const {
    return m_headerFields;
}

void FiltersPage::ReplaceHeaderFields(const std::vector<std::string>& names) {
    m_headerFields = names;
    SortHeaderFieldList(m_headerFields);
    ShowHeaderFields("From");
    RebuildVariableNames();
}

void FiltersPage::ShowHeaderFields(const std::string& select) {
    {
        const QSignalBlocker blocker(m_cmbRulesField);
        m_cmbRulesField->clear();
        m_cmbRulesField->addItems(ToQStrings(m_headerFields));
        const auto found = std::find(m_headerFields.begin(), m_headerFields.end(), select);
        m_cmbRulesField->setCurrentIndex(
            found == m_headerFields.end() ? 0 : static_cast<int>(found - m_headerFields.begin()));
    }
    // The comparisons always follow the field shown, so no rule pairs a field with the other
    // kind's comparison (such a rule could never match).
    cmbRulesFieldChange();
}

void FiltersPage::cmbRulesFieldChange() {
    const int row = m_cmbRulesField->currentIndex();
    const bool size =
        row >= 0 && m_headerFields[static_cast<std::size_t>(row)] == std::string(kSizeField);
    const auto& comparisons = size ? kSizeComparisons : kTextComparisons;
    m_cmbRulesContains->clear();
    for (const char* comparison : comparisons)
        m_cmbRulesContains->addItem(QString::fromLatin1(comparison));
    m_cmbRulesContains->setCurrentIndex(0);
}

void FiltersPage::cmbAndOrChange() {
    // Every connector builds its rule from the same field, comparison and text: nothing to
    // show or hide.
}

void FiltersPage::StoreHeaderFields(std::vector<std::string> names, const std::string& select) {
    SortHeaderFieldList(names);
    ShowingErrors(m_context.dialogs, [&] {
        WriteRegString(m_context.Settings(), SettingsRoot, schema::HeaderFields,
                       JoinListValue(names));
        m_headerFields = std::move(names);
        ShowHeaderFields(select);
        RebuildVariableNames();
    });
}

void FiltersPage::butAddHeaderFieldClick() {
    const std::optional<std::string> name =
        AskNewName(m_context.dialogs,
                   {tr("New Header Field"), tr("Enter Header Field."),
                    tr("Please enter a Header Field name.")},
                   m_headerFields, HeaderFieldRefusal);
    if (!name) return;
    std::vector<std::string> names = m_headerFields;
    names.push_back(*name);
    StoreHeaderFields(std::move(names), *name);
}

void FiltersPage::butDelHeaderFieldClick() {
    const int row = m_cmbRulesField->currentIndex();
    if (row < 0) return;
    const std::string field = m_headerFields[static_cast<std::size_t>(row)];
    if (IsProtectedHeaderField(field)) return;
    std::vector<std::string> names = m_headerFields;
    names.erase(names.begin() + row);
    const std::string first = names.empty() ? std::string() : names.front();
    StoreHeaderFields(std::move(names), first);
}

// ---- The filter list ----

void FiltersPage::LoadFilters() {
    m_filterNames.clear();
    EmptyFilterContents();
    RebuildVariableNames();
    const std::string mailbox = SelectedMailbox();
    try {
        if (!mailbox.empty()) {
            ConfigStore filters(m_context.Settings());
            filters.OpenKey(MailboxKeyPath(mailbox) + "\\" + schema::FiltersKey, true);
            filters.GetKeyNames(m_filterNames);
            std::stable_sort(m_filterNames.begin(), m_filterNames.end(), LessNoCase);
        }
    } catch (...) {
        // No other mailbox's filters may stay on show.
        m_filterNames.clear();
        ShowFilterNames();
        throw;
    }
    ShowFilterNames();
}

void FiltersPage::ShowFilters() {
    ShowingErrors(m_context.dialogs, [this] { LoadFilters(); });
}

void FiltersPage::ClearFilters() {
    m_filterNames.clear();
    EmptyFilterContents();
    RebuildVariableNames();
    ShowFilterNames();
}

void FiltersPage::ShowFilterNames() {
    ShowLines(m_lstFilters, m_filterNames);
    UpdateButtons();
    emit filterNamesChanged(ToQStrings(m_filterNames));
}

void FiltersPage::EmptyFilterContents() {
    m_rules.clear();
    m_actions.clear();
    m_textVarNames.clear();
    ShowLines(m_lstFilterConditions, m_rules);
    ShowLines(m_lstActions, m_actions);
}

void FiltersPage::butNewFilterClick() {
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) {
        m_context.dialogs.ShowMessage(
            tr("Please choose or create a mailbox on the Mailboxes page first."));
        return;
    }
    const std::optional<std::string> name = AskNewName(
        m_context.dialogs,
        {tr("New Filter"), tr("Enter a name for the filter."), tr("Please enter a name.")},
        m_filterNames, FilterNameRefusal);
    if (!name) return;
    ShowingErrors(m_context.dialogs, [&] {
        CreateFilter(m_context.Settings(), mailbox, *name);
        const auto at =
            std::upper_bound(m_filterNames.begin(), m_filterNames.end(), *name, LessNoCase);
        const int row = static_cast<int>(at - m_filterNames.begin());
        m_filterNames.insert(at, *name);
        ShowFilterNames();
        // Selecting runs lstFiltersClick: the new filter's empty lists and no variable names.
        m_lstFilters->setCurrentRow(row);
    });
}

void FiltersPage::butDelFilterClick() {
    const std::string filter = SelectedFilter();
    if (filter.empty()) return;
    const std::vector<std::string> actions = m_actions;
    bool deleted = false;
    ShowingErrors(m_context.dialogs, [&] {
        DeleteFilter(m_context.Settings(), SelectedMailbox(), filter);
        deleted = true;
        LoadFilters();
    });
    if (!deleted) return;
    // The templates go only once the filter that names them is gone.
    for (const std::string& line : actions) {
        if (!NamesTemplate(line)) continue;
        ShowingErrors(m_context.dialogs,
                      [&] { DeleteTemplateFile(m_context.engine.programDir, RightStr(line, 6)); });
    }
}

void FiltersPage::lstFiltersClick() {
    // With the selection taken away no filter's lists stay on show.
    EmptyFilterContents();
    if (!SelectedFilter().empty()) {
        m_cmbAndOr->setCurrentIndex(0);
        // Each list shows as soon as it is read, so an error keeps what was read before it.
        ShowingErrors(m_context.dialogs, [this] {
            SettingsDb& db = m_context.Settings();
            const std::string key = SelectedFilterKeyPath();
            m_rules = SplitListValue(ReadRegString(db, key, schema::Rules, ""));
            ShowLines(m_lstFilterConditions, m_rules);
            m_actions = SplitListValue(ReadRegString(db, key, schema::Actions, ""));
            ShowLines(m_lstActions, m_actions);
            m_textVarNames = SplitListValue(ReadRegString(db, key, schema::TextVarNames, ""));
        });
    }
    RebuildVariableNames();
    UpdateButtons();
}

// ---- Rules ----

std::string FiltersPage::BuildRuleLine() const {
    const int connector = std::max(m_cmbAndOr->currentIndex(), 0);
    const int field = m_cmbRulesField->currentIndex();
    std::string line = kConnectors[connector];
    if (field >= 0) line += m_headerFields[static_cast<std::size_t>(field)];
    line += ' ';
    line += m_cmbRulesContains->currentText().toStdString();
    line += " `";
    line += m_edtCompText->text().toStdString();
    line += '`';
    return line;
}

void FiltersPage::StoreRuleEdit(const LineListEdit& edit) {
    if (SelectedFilter().empty()) return;
    ShowingErrors(m_context.dialogs, [&] {
        WriteRegString(m_context.Settings(), SelectedFilterKeyPath(), schema::Rules,
                       JoinListValue(edit.lines));
        m_rules = edit.lines;
        ShowLines(m_lstFilterConditions, m_rules, edit.selected);
    });
}

void FiltersPage::butAddFilterRuleClick() {
    const std::string line = BuildRuleLine();
    if (HoldsLineBreak(line)) {
        m_context.dialogs.ShowMessage(tr("The comparison text must not hold a line break."));
        return;
    }
    StoreRuleEdit(Appended(m_rules, line));
}

void FiltersPage::butInsFilterRuleClick() {
    const std::string line = BuildRuleLine();
    if (HoldsLineBreak(line)) {
        m_context.dialogs.ShowMessage(tr("The comparison text must not hold a line break."));
        return;
    }
    StoreRuleEdit(InsertedBefore(m_rules, SelectedRuleRow(), line));
}

void FiltersPage::butDelFilterRuleClick() {
    StoreRuleEdit(Removed(m_rules, SelectedRuleRow()));
}

void FiltersPage::butUpFilterRuleClick() {
    StoreRuleEdit(MovedUp(m_rules, SelectedRuleRow()));
}

void FiltersPage::butDownFilterRuleClick() {
    StoreRuleEdit(MovedDown(m_rules, SelectedRuleRow()));
}

// ---- Actions ----

bool FiltersPage::StoreActionEdit(const LineListEdit& edit) {
    if (SelectedFilter().empty()) return false;
    bool stored = false;
    ShowingErrors(m_context.dialogs, [&] {
        WriteRegString(m_context.Settings(), SelectedFilterKeyPath(), schema::Actions,
                       JoinListValue(edit.lines));
        stored = true;
        m_actions = edit.lines;
        ShowLines(m_lstActions, m_actions, edit.selected);
        UpdateButtons();
    });
    return stored;
}

bool FiltersPage::StoreActions(const std::vector<std::string>& lines) {
    return StoreActionEdit({lines, -1});
}

void FiltersPage::SetTextVariableNames(const std::vector<std::string>& names) {
    m_textVarNames = names;
    RebuildVariableNames();
}

void FiltersPage::butAddActionsClick() {
    if (SelectedFilter().empty()) return;
    const std::string kind = m_cmbResponse->currentText().toStdString();
    if (kind.find("external") != std::string::npos) {
        const QString program = m_context.dialogs.ChooseFileToOpen(
            tr("Run external program"), QDir::homePath(), tr("All files (*)"));
        LineListEdit edit{m_actions, -1}; // Cancel stores the list as it is
        if (!program.isEmpty()) {
            // The path as the file system names it, case and all: on this system another case
            // names another file.
            const std::string path = QFile::encodeName(program).toStdString();
            if (HoldsLineBreak(path)) {
                m_context.dialogs.ShowMessage(
                    tr("The program's path holds a line break, which an action line cannot "
                       "keep."));
                return;
            }
            edit = Appended(m_actions, kExtProgPrefix + path);
        }
        StoreActionEdit(edit);
        return;
    }
    bool opened = false;
    if (StartsWith(kind, "Forward")) {
        opened = OpenForwardDialog(false, std::string());
    } else if (StartsWith(kind, "Send new email")) {
        opened = OpenSendMessageDialog(false);
    } else if (StartsWith(kind, "Save data")) {
        opened = OpenSaveDataDialog(false);
    } else if (StartsWith(kind, "Extract text")) {
        const bool present =
            std::any_of(m_actions.begin(), m_actions.end(),
                        [&](const std::string& line) { return EqualsNoCase(line, kind); });
        if (present) {
            m_context.dialogs.ShowMessage(
                "Text Extraction routine already exists.\r\nPlease use the \"Edit\" button if "
                "you want to modify it");
            return;
        }
        opened = OpenTextExtractionEditor(false);
    } else if (StartsWith(kind, "Delete")) {
        StoreActionEdit(Appended(m_actions, kDeleteLine));
        return;
    } else if (StartsWith(kind, "Stop")) {
        StoreActionEdit(Appended(m_actions, kStopLine));
        return;
    }
    // The dialog is not modal: the list is stored now and again when the dialog confirms.
    if (opened) StoreActionEdit({m_actions, SelectedActionRow()});
}

void FiltersPage::butEditActionsClick() {
    const int row = SelectedActionRow();
    if (row < 0) return;
    const std::string& line = m_actions[static_cast<std::size_t>(row)];
    if (StartsWith(line, "Fwd")) {
        OpenForwardDialog(true, line.size() > kFwdPrefixLength ? line.substr(kFwdPrefixLength)
                                                               : std::string());
    } else if (StartsWith(line, "Send msg")) {
        OpenSendMessageDialog(true);
    } else if (StartsWith(line, "Save data")) {
        OpenSaveDataDialog(true);
    } else if (StartsWith(line, "Extract text")) {
        OpenTextExtractionEditor(true);
    }
    // Any other action is changed by deleting it and adding another.
}

void FiltersPage::butDelActionsClick() {
    const int row = SelectedActionRow();
    const std::string removed = row < 0 ? std::string() : m_actions[static_cast<std::size_t>(row)];
    if (!StoreActionEdit(Removed(m_actions, row)) || !NamesTemplate(removed)) return;
    // Only once no stored line names it any more.
    ShowingErrors(m_context.dialogs,
                  [&] { DeleteTemplateFile(m_context.engine.programDir, RightStr(removed, 6)); });
}

void FiltersPage::butUpActionsClick() {
    StoreActionEdit(MovedUp(m_actions, SelectedActionRow()));
}

void FiltersPage::ButDownActionsClick() {
    StoreActionEdit(MovedDown(m_actions, SelectedActionRow()));
}

void FiltersPage::lstActionsClick() {
    UpdateButtons();
}

// ---- Hand-over to the template dialog and the text extraction editor ----

bool FiltersPage::OpenForwardDialog(bool edit, const std::string& address) {
    if (m_query == nullptr) return false;
    m_query->OpenForward(edit, address);
    return true;
}

bool FiltersPage::OpenSendMessageDialog(bool edit) {
    bool opened = false;
    if (m_query != nullptr)
        ShowingErrors(m_context.dialogs, [&] { opened = m_query->OpenSendMessage(edit); });
    return opened;
}

bool FiltersPage::OpenSaveDataDialog(bool edit) {
    bool opened = false;
    if (m_query != nullptr)
        ShowingErrors(m_context.dialogs, [&] { opened = m_query->OpenSaveData(edit); });
    return opened;
}

bool FiltersPage::OpenTextExtractionEditor(bool edit) {
    if (m_textProc == nullptr) return false;
    m_textProc->Open(edit);
    return true;
}

// ---- State ----

void FiltersPage::RebuildVariableNames() {
    m_variables.RebuildNames(m_headerFields, m_textVarNames);
    emit variableNamesChanged();
}

void FiltersPage::UpdateButtons() {
    // Without a selected filter there is nothing for these buttons to change.
    const bool filter = !SelectedFilter().empty();
    m_butDelFilter->setEnabled(filter);
    for (QPushButton* button : m_ruleButtons)
        button->setEnabled(filter);
    for (QPushButton* button : {m_butAddActions, m_butDelActions, m_butUpActions, m_butDownActions})
        button->setEnabled(filter);
    m_butEditActions->setEnabled(filter && SelectedActionRow() >= 0);
}

} // namespace zelm
