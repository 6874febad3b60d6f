#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "protocols/tls.h"
#include "ui/window_context.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace zelm {

class ConfigStore;
struct LineListEdit;

/// The Mailboxes page: the mailbox list (`cmbMailbox`) and the editor of the selected mailbox.
/// The selected mailbox is the one the Lists, Filters and Interactive pages work on. Every
/// field is stored when it is left, every box and choice when it is clicked; with no mailbox
/// selected nothing is stored.
class MailboxesPage : public QWidget {
    Q_OBJECT
public:
    explicit MailboxesPage(WindowContext& context, QWidget* parent = nullptr);

    /// Fills `cmbMailbox` with the stored mailbox names (ascending, without regard to case)
    /// and selects the one at position (from 0); a position outside the list selects nothing.
    /// Throws ZelmError when the store fails.
    void FillMailboxList(int position);
    /// The selected mailbox's name, "" when none is selected.
    QString SelectedMailbox() const;
    /// The selected entry's position in `cmbMailbox`, -1 when none is selected.
    int SelectedPosition() const;
    /// Loads the selected mailbox into this page and the Lists page's switches; atStartUp
    /// shows an absent `Cache` as "100". Throws ZelmError when the store fails; what was loaded
    /// before the error stays shown.
    void ShowMailbox(bool atStartUp);

    /// The connection values of the shown mailbox as the fields show them now, unsaved edits
    /// included; the certificate pin as stored.
    struct ConnectionFields {
        QString mailbox, host, port;
        /// As bytes: a user or password that is not UTF-8 reaches the server unchanged.
        std::string userId, password;
        /// nullopt when the stored security is none of the three choices.
        std::optional<ConnectionSecurity> security = ConnectionSecurity::None;
        std::string certFingerprint;
    };
    ConnectionFields ShownConnectionFields() const;
    /// The sender address as `edtSMTPFrom` shows it.
    QString ShownSender() const;

public slots:
    /// `cmbOperation` takes the selected mailbox's filter names and selects the first.
    void ShowFilterChoices(const QStringList& names);

signals:
    /// ShowMailbox read one of the Lists page's switches (its value name) as shown.
    void listSwitchLoaded(const QString& valueName, bool checked);
    /// ShowMailbox read `ForwardAddress`.
    void forwardAddressLoaded(const std::string& address);
    /// The page was cleared: no mailbox remains. The Lists page shows no mailbox either.
    void pageCleared();
    /// The user chose another mailbox, or the shown one was deleted: the Filters page shows the
    /// mailbox now selected.
    void mailboxChosen();
    /// A mailbox was created and selected: the Filters page shows no filters.
    void mailboxCreated();

private slots:
    void butSaveMailboxClick();
    void cmbMailboxChange();
    void butDelMailboxClick();
    void chkEnMailboxClick();
    void edtCacheExit();
    void edtHostExit();
    void edtUserIDExit();
    void edtPasswordExit();
    void edtPortExit();
    void cmbPop3SecurityChange();
    void edtSMTPHostExit();
    void edtSMTPPortExit();
    void edtSMTPFromExit();
    void cmbSMTPSecurityChange();
    void chkSMTPAuthClick();
    void edtSMTPUserIDExit();
    void edtSMTPPasswordExit();
    void chkLimitSizeClick();
    void edtLimitSizeExit();
    void butAddOperationClick();
    void butInsOperationClick();
    void butDelOperationClick();
    void butUpOperationClick();
    void butDownOperationClick();

private:
    QWidget* BuildMailboxRow();
    QWidget* BuildPop3Group();
    QWidget* BuildSmtpGroup();
    QWidget* BuildSizeRow();
    QWidget* BuildOperationGroup();
    QLineEdit* AddField(const char* name, void (MailboxesPage::*exit)());
    QCheckBox* AddCheckBox(const char* name, const QString& caption, const QString& hint,
                           void (MailboxesPage::*click)());
    QPushButton* AddButton(const char* name, const QString& caption, const QString& hint,
                           const QString& accessibleName, void (MailboxesPage::*click)());
    QComboBox* AddSecurityChoice(const char* name, void (MailboxesPage::*change)());

    std::string MailboxKey() const;
    void StoreString(const char* valueName, const std::string& text);
    void StoreFlag(const char* valueName, bool flag);
    void StoreSecurity(QComboBox* choice, const char* valueName, QLineEdit* port,
                       const char* portValueName, const char* plainPort, const char* tlsPort);
    void ShowFlag(QCheckBox* box, ConfigStore& key, const char* valueName);
    void ShowSecurity(QComboBox* choice, ConfigStore& key, const char* valueName);
    void ShowOperation(const std::vector<std::string>& lines, int selected);
    void StoreOperationEdit(const LineListEdit& edit);
    int SelectedOperationRow() const;
    void ClearPage();
    /// Shows stored bytes in a field.
    void ShowBytes(QLineEdit* field, const std::string& bytes);
    /// What a field shows, as the bytes it was loaded from while it is unchanged.
    std::string FieldBytes(const QLineEdit* field) const;
    void UpdateSmtpAuthFields();

    WindowContext& m_context;
    std::vector<std::string> m_operation;
    /// The bytes each field was loaded from: a value that is not UTF-8 is stored back as it
    /// was when the field is left unchanged.
    std::map<const QLineEdit*, std::string> m_loaded;

    QComboBox* m_cmbMailbox = nullptr;
    QPushButton* m_butSaveMailbox = nullptr;
    QPushButton* m_butDelMailbox = nullptr;
    QCheckBox* m_chkEnMailbox = nullptr;
    QLineEdit* m_edtCache = nullptr;
    QLineEdit* m_edtHost = nullptr;
    QLineEdit* m_edtUserID = nullptr;
    QLineEdit* m_edtPassword = nullptr;
    QLineEdit* m_edtPort = nullptr;
    QComboBox* m_cmbPop3Security = nullptr;
    QLineEdit* m_edtSMTPHost = nullptr;
    QLineEdit* m_edtSMTPPort = nullptr;
    QLineEdit* m_edtSMTPFrom = nullptr;
    QComboBox* m_cmbSMTPSecurity = nullptr;
    QCheckBox* m_chkSMTPAuth = nullptr;
    QLineEdit* m_edtSMTPUserID = nullptr;
    QLineEdit* m_edtSMTPPassword = nullptr;
    QCheckBox* m_chkLimitSize = nullptr;
    QLineEdit* m_edtLimitSize = nullptr;
    QComboBox* m_cmbOperation = nullptr;
    QListWidget* m_lstOperation = nullptr;
};

} // namespace zelm
