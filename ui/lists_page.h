#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QString>
#include <QWidget>

#include "ui/window_context.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zelm {

/// The Lists page: the accept and reject lists of the mailbox selected on the Mailboxes page
/// and what happens to a rejected message. The switches are stored when clicked, the address
/// on every change, each list when it is left; with no mailbox selected nothing is stored.
class ListsPage : public QWidget {
    Q_OBJECT
public:
    explicit ListsPage(WindowContext& context, QWidget* parent = nullptr);

    /// Where the page asks which mailbox is selected on the Mailboxes page; every handler asks
    /// at the moment it runs.
    void SetMailboxSource(std::function<QString()> selectedMailbox);

public slots:
    /// Loads both lists of the selected mailbox from its data file (each time the page is
    /// shown); a file error is shown in a message box.
    void tabListsShow();
    /// Shows a switch as loaded with the mailbox (valueName: its stored name); a change runs
    /// the box's handler, which stores it.
    void ShowLoadedSwitch(const QString& valueName, bool checked);
    /// Shows `ForwardAddress` as loaded with the mailbox; a change stores it again.
    void ShowLoadedForwardAddress(const std::string& address);
    /// No mailbox remains: boxes checked, address and lists empty.
    void ClearPage();

signals:
    /// "Custom message" was clicked: the message template dialog edits the reply to rejected
    /// messages.
    void customMessageRequested();

private slots:
    void chkEnableAcceptClick();
    void chkEnableRejectClick();
    void chkForwardClick();
    void chkBounceClick();
    void chkDeleteClick();
    void edtForwardChange();
    void memoAcceptExit();
    void memoRejectExit();
    void butBounceMsgClick();

private:
    QCheckBox* AddCheckBox(const char* name, const QString& caption, void (ListsPage::*click)());
    QPlainTextEdit* AddList(const char* name, const QString& accessibleName,
                            void (ListsPage::*exit)());
    std::string SelectedMailbox() const;
    void StoreFlag(const char* valueName, const QCheckBox* box);
    void StoreList(QPlainTextEdit* memo, std::vector<std::string>& shown, std::string_view section);
    /// The page's three visibility rules, applied after every change of a box.
    void UpdateVisibility();

    WindowContext& m_context;
    std::function<QString()> m_selectedMailbox;
    /// The lines each list shows, as the data file holds them.
    std::vector<std::string> m_acceptLines;
    std::vector<std::string> m_rejectLines;
    /// The forward address as stored, while the field shows it unchanged.
    std::string m_forwardAddress;
    QCheckBox* m_chkEnableAccept = nullptr;
    QPlainTextEdit* m_memoAccept = nullptr;
    QCheckBox* m_chkEnableReject = nullptr;
    QPlainTextEdit* m_memoReject = nullptr;
    QCheckBox* m_chkForward = nullptr;
    QLineEdit* m_edtForward = nullptr;
    QCheckBox* m_chkBounce = nullptr;
    QPushButton* m_butBounceMsg = nullptr;
    QCheckBox* m_chkDelete = nullptr;
};

} // namespace zelm
