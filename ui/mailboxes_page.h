#pragma once

#include <QString>
#include <QWidget>

#include "ui/window_context.h"

class QComboBox;

namespace zelm {

/// The Mailboxes page: the mailbox list (`cmbMailbox`) and the editor of the selected mailbox.
/// The selected mailbox is the one the Lists, Filters and Interactive pages work on.
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
    /// Loads the selected mailbox into the editor pages; atStartUp shows an absent `Cache` as
    /// "100".
    void ShowMailbox(bool atStartUp);

    /// The connection values as the fields show them now, unsaved edits included.
    struct ConnectionFields {
        QString mailbox, host, port, userId, password;
    };
    ConnectionFields ShownConnectionFields() const;

private:
    WindowContext& m_context;
    QComboBox* m_cmbMailbox;
};

} // namespace zelm
