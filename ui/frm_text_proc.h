#pragma once

#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "ui/window_context.h"

class QComboBox;
class QListWidget;
class QPushButton;

namespace zelm {

class FiltersPage;

/// The text extraction editor: the selected filter's extraction routine as a list of command
/// lines. One instance lives as long as the main window; it is not modal, and OK stores the
/// routine, its variable names and the filter's action list.
class TfrmTextProc : public QDialog {
    Q_OBJECT
public:
    /// The dialog in front of mainWindow; filters gives the filter whose routine it edits.
    TfrmTextProc(WindowContext& context, FiltersPage& filters, QWidget* mainWindow);

    /// Opens the editor on the selected filter's routine: to add the "Extract text from body"
    /// action, or (edit) to change the routine of the one the filter has.
    void Open(bool edit);

    /// The name the next "Text extraction end" line takes: the last one accepted for a
    /// "Text extraction start" while the program runs.
    const std::string& CurrentVariableName() const { return m_currentVariableName; }

private slots:
    void butAddTextClick();
    void butUpTextClick();
    void butDownTextClick();
    void butDelTextClick();
    void butTextOKClick();
    void butTextCancelClick();

private:
    void ShowLines(std::vector<std::string> lines, int selected);
    int SelectedRow() const;
    std::string AskArgument(const QString& caption, const QString& prompt, bool& accepted);

    WindowContext& m_context;
    FiltersPage& m_filters;
    QWidget* m_mainWindow;
    std::string m_currentVariableName;
    /// The routine's lines as stored, bytes kept; the list only shows them.
    std::vector<std::string> m_lines;

    QComboBox* m_cmbTextProc = nullptr;
    QPushButton* m_butAddText = nullptr;
    QListWidget* m_lstTextActions = nullptr;
    QPushButton* m_butUpText = nullptr;
    QPushButton* m_butDownText = nullptr;
    QPushButton* m_butDelText = nullptr;
    QPushButton* m_butTextOK = nullptr;
    QPushButton* m_butTextCancel = nullptr;
};

} // namespace zelm
