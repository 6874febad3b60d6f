#include "ui/mailboxes_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/schema.h"
#include "session/session_driver.h"

namespace zelm {

MailboxesPage::MailboxesPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_cmbMailbox(new QComboBox(this)) {
    setObjectName("tabMailboxes");
    m_cmbMailbox->setObjectName("cmbMailbox");
    m_cmbMailbox->setMinimumContentsLength(24);
    auto* label = new QLabel(tr("&Mailbox"), this);
    label->setBuddy(m_cmbMailbox);

    auto* fields = new QFormLayout;
    fields->addRow(label, m_cmbMailbox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addStretch();
}

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

MailboxesPage::ConnectionFields MailboxesPage::ShownConnectionFields() const {
    // TODO: the mailbox editor's own fields replace this look-up by name once they exist.
    const auto text = [this](const char* name) {
        const auto* field = findChild<QLineEdit*>(name);
        return field ? field->text() : QString();
    };
    return {SelectedMailbox(), text("edtHost"), text("edtPort"), text("edtUserID"),
            text("edtPassword")};
}

void MailboxesPage::ShowMailbox(bool /*atStartUp*/) {
    // TODO: the mailbox editor's fields and the Lists and Filters pages are loaded here once
    // those editors exist; until then choosing a mailbox only selects it.
}

} // namespace zelm
