#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "ui/window_context.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zelm {

class FiltersPage;
struct QueryMode;

/// The message template dialog: the address of a "Forward message" action, the templates of
/// "Send new email message" and "Save data to file" actions, and a mailbox's custom reply to
/// rejected messages. One instance lives as long as the main window; each opening re-labels
/// and re-fills it. It is not modal, and its caption carries the mode that OK stores.
class TfrmQuery : public QDialog {
    Q_OBJECT
public:
    /// The dialog in front of mainWindow; filters gives the action list it finishes.
    TfrmQuery(WindowContext& context, FiltersPage& filters, QWidget* mainWindow);

    /// Where the dialog asks which mailbox is selected on the Mailboxes page, at the moment it
    /// needs it.
    void SetMailboxSource(std::function<QString()> selectedMailbox);

    /// A new "Forward message" action, or (edit) the selected "Fwd to: " line, whose address
    /// is address.
    void OpenForward(bool edit, const std::string& address);
    /// A new "Send new email message" action, or (edit) the selected "Send msg" line's
    /// template. False, with a message, when the template cannot be read.
    bool OpenSendMessage(bool edit);
    /// A new "Save data to file" action, or (edit) the selected "Save data" line's template.
    /// False, with a message, when the template cannot be read.
    bool OpenSaveData(bool edit);
    /// The selected mailbox's custom reply to rejected messages (its "Reject Text").
    void OpenReturnToSender();

private slots:
    void butAddVarClick();
    void butDateClick();
    void butTimeClick();
    void butAttachClick();
    void butSaveDataClick();
    void butQueryOKClick();
    void butQueryCancelClick();
    void memoOutMessageChange();

private:
    QWidget* BuildFields();
    QWidget* BuildAids();
    void ApplyMode(const QueryMode& mode, bool edit);
    void ShowInFront();
    void RebuildVariables();
    bool LoadTemplate(const std::string& path, std::vector<std::string>& lines);

    void StoreForward(bool edit);
    void StoreMessageTemplate(bool edit);
    void StoreSaveDataTemplate(bool edit);
    void StoreRejectText();
    bool FilterSelected();
    void WarnWithoutSenderAddress();
    std::string SelectedMailbox() const;
    std::string SenderText() const;

    std::vector<std::string> BodyLines() const;
    void ShowBody(const std::vector<std::string>& lines);

    WindowContext& m_context;
    FiltersPage& m_filters;
    QWidget* m_mainWindow;
    std::function<QString()> m_selectedMailbox;
    /// The template file an edit opened, which OK rewrites.
    std::string m_editedTemplate;

    QLabel* m_lblQuery = nullptr;
    QComboBox* m_cmbQuery = nullptr;
    QLabel* m_lblFrom = nullptr;
    QLineEdit* m_edtFrom = nullptr;
    QLabel* m_lblSubject = nullptr;
    QLineEdit* m_edtSubject = nullptr;
    QLabel* m_lblCc = nullptr;
    QLineEdit* m_edtCc = nullptr;
    QPlainTextEdit* m_memoOutMessage = nullptr;
    QLabel* m_lblVariables = nullptr;
    QComboBox* m_cmbVariables = nullptr;
    QPushButton* m_butAddVar = nullptr;
    QPushButton* m_butDate = nullptr;
    QPushButton* m_butTime = nullptr;
    QPushButton* m_butAttach = nullptr;
    QPushButton* m_butSaveData = nullptr;
    QPushButton* m_butQueryOK = nullptr;
    QPushButton* m_butQueryCancel = nullptr;
    QWidget* m_fields = nullptr;
    QWidget* m_aids = nullptr;
};

} // namespace zelm
