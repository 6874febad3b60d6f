#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "messages/header_summary.h"
#include "ui/window_context.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace zelm {

struct LineListEdit;
class TfrmQuery;
class TfrmTextProc;

/// The Filters page: the filters of the mailbox selected on the Mailboxes page, their rules and
/// actions, and the header field names rules can test. Every change is stored at once. The
/// lists keep the stored bytes; the widgets only show them.
class FiltersPage : public QWidget {
    Q_OBJECT
public:
    explicit FiltersPage(WindowContext& context, QWidget* parent = nullptr);

    /// Where the page asks which mailbox is selected on the Mailboxes page; every handler asks
    /// at the moment it runs.
    void SetMailboxSource(std::function<QString()> selectedMailbox);
    /// The dialogs that finish the forward, send, save and extraction actions.
    void SetActionDialogs(TfrmQuery* query, TfrmTextProc* textProc);

    /// The header field names rules can test, as the page holds them (ascending).
    std::vector<std::string> HeaderFieldNames() const;
    /// Replaces the header field names (start-up, from the stored `HeaderFields`) and selects
    /// "From".
    void ReplaceHeaderFields(const std::vector<std::string>& names);

    /// Fills `lstFilters` with the selected mailbox's filters (sorted, none selected) and
    /// empties the rule and action lists. Throws ZelmError when the store fails.
    void LoadFilters();

    /// The selected filter's name, "" when none is selected.
    std::string SelectedFilter() const;
    /// The settings key of the selected filter of the selected mailbox.
    std::string SelectedFilterKeyPath() const;
    /// The names the template dialog offers as placeholders: the header fields, "Header",
    /// "Body" and the selected filter's text variable names; rebuilt whenever one of them
    /// changes (variableNamesChanged).
    const std::vector<std::string>& VariableNames() const { return m_variables.names; }

    // What the template dialog and the text extraction editor use once they confirm.

    /// The selected filter's action lines as shown.
    const std::vector<std::string>& ActionLines() const { return m_actions; }
    /// The row selected in `lstActions`, -1 when none.
    int SelectedActionRow() const;
    /// Stores lines as the selected filter's `Actions` and shows them; a store error is shown
    /// in a message box and the list keeps what it showed. False when nothing was stored.
    bool StoreActions(const std::vector<std::string>& lines);
    /// The selected filter's text variable names changed (its `TextVarNames` was stored).
    void SetTextVariableNames(const std::vector<std::string>& names);

public slots:
    /// LoadFilters for the mailbox now selected (another mailbox was chosen or deleted); a
    /// store error is shown in a message box.
    void ShowFilters();
    /// Empties the filter, rule and action lists (a mailbox was just created).
    void ClearFilters();

signals:
    /// `lstFilters` now holds these names: the Mailboxes page's filter choice list takes them
    /// and selects its first entry.
    void filterNamesChanged(const QStringList& names);
    /// VariableNames changed.
    void variableNamesChanged();

private slots:
    void butNewFilterClick();
    void butDelFilterClick();
    void lstFiltersClick();
    void cmbRulesFieldChange();
    void cmbAndOrChange();
    void butAddFilterRuleClick();
    void butInsFilterRuleClick();
    void butDelFilterRuleClick();
    void butUpFilterRuleClick();
    void butDownFilterRuleClick();
    void butAddActionsClick();
    void butEditActionsClick();
    void butDelActionsClick();
    void butUpActionsClick();
    void ButDownActionsClick();
    void lstActionsClick();
    void butAddHeaderFieldClick();
    void butDelHeaderFieldClick();

private:
    QWidget* BuildFilterGroup();
    QWidget* BuildRuleGroup();
    QWidget* BuildActionGroup();
    QPushButton* AddButton(const char* name, const QString& caption, const QString& hint,
                           const QString& accessibleName, void (FiltersPage::*handler)());

    std::string SelectedMailbox() const;
    std::string BuildRuleLine() const;
    int SelectedRuleRow() const;
    void StoreRuleEdit(const LineListEdit& edit);
    bool StoreActionEdit(const LineListEdit& edit);
    void StoreHeaderFields(std::vector<std::string> names, const std::string& select);
    void ShowFilterNames();
    void ShowHeaderFields(const std::string& select);
    void EmptyFilterContents();
    void RebuildVariableNames();
    void UpdateButtons();

    // Hand-over to the dialogs that finish the richer actions. Each returns true when its
    // dialog opened.
    bool OpenForwardDialog(bool edit, const std::string& address);
    bool OpenSendMessageDialog(bool edit);
    bool OpenSaveDataDialog(bool edit);
    bool OpenTextExtractionEditor(bool edit);

    WindowContext& m_context;
    std::function<QString()> m_selectedMailbox;
    TfrmQuery* m_query = nullptr;
    TfrmTextProc* m_textProc = nullptr;
    HeaderFieldList m_headerFields;
    std::vector<std::string> m_filterNames;
    std::vector<std::string> m_rules;
    std::vector<std::string> m_actions;
    std::vector<std::string> m_textVarNames;
    MessageVariables m_variables;

    QListWidget* m_lstFilters = nullptr;
    QPushButton* m_butNewFilter = nullptr;
    QPushButton* m_butDelFilter = nullptr;
    QListWidget* m_lstFilterConditions = nullptr;
    QComboBox* m_cmbAndOr = nullptr;
    QComboBox* m_cmbRulesField = nullptr;
    QComboBox* m_cmbRulesContains = nullptr;
    QLineEdit* m_edtCompText = nullptr;
    QPushButton* m_butAddHeaderField = nullptr;
    QPushButton* m_butDelHeaderField = nullptr;
    std::vector<QPushButton*> m_ruleButtons;
    QComboBox* m_cmbResponse = nullptr;
    QListWidget* m_lstActions = nullptr;
    QPushButton* m_butAddActions = nullptr;
    QPushButton* m_butEditActions = nullptr;
    QPushButton* m_butDelActions = nullptr;
    QPushButton* m_butUpActions = nullptr;
    QPushButton* m_butDownActions = nullptr;
};

} // namespace zelm
