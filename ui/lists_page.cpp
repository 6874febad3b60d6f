#include "ui/lists_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "core/config_store.h"
#include "core/schema.h"
#include "messages/data_file.h"
#include "ui/dialogs.h"
#include "ui/field_exit.h"

namespace zelm {
namespace {

// A hidden control keeps its place, so the page (and the window's fixed size) never jumps.
void KeepPlaceWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

// One list entry per line; a final line break starts no entry.
std::vector<std::string> ListLines(const QString& text) {
    std::vector<std::string> lines;
    if (text.isEmpty()) return lines;
    QStringList parts = text.split('\n');
    if (parts.last().isEmpty()) parts.removeLast();
    for (const QString& part : parts)
        lines.push_back(part.toStdString());
    return lines;
}

QString ListText(const std::vector<std::string>& lines) {
    QStringList shown;
    for (const std::string& line : lines)
        shown.append(QString::fromStdString(line));
    return shown.join('\n');
}

} // namespace

ListsPage::ListsPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName("tabLists");

    auto* accept = new QGroupBox(tr("Accept List"), this);
    m_chkEnableAccept =
        AddCheckBox("chkEnableAccept", tr("Enable &Accept List"), &ListsPage::chkEnableAcceptClick);
    m_memoAccept = AddList("memoAccept", tr("Accept List"), &ListsPage::memoAcceptExit);
    auto* acceptLayout = new QVBoxLayout(accept);
    acceptLayout->addWidget(m_chkEnableAccept);
    acceptLayout->addWidget(m_memoAccept, 1);

    auto* reject = new QGroupBox(tr("Reject List"), this);
    m_chkEnableReject =
        AddCheckBox("chkEnableReject", tr("Enable &Reject List"), &ListsPage::chkEnableRejectClick);
    m_memoReject = AddList("memoReject", tr("Reject List"), &ListsPage::memoRejectExit);
    m_chkForward = AddCheckBox("chkForward", tr("&Forward to"), &ListsPage::chkForwardClick);
    m_edtForward = new QLineEdit(this);
    m_edtForward->setObjectName("edtForward");
    m_edtForward->setAccessibleName(tr("Forward to address"));
    m_chkBounce = AddCheckBox("chkBounce", tr("Return to &sender"), &ListsPage::chkBounceClick);
    m_butBounceMsg = new QPushButton(tr("&Custom message"), this);
    m_butBounceMsg->setObjectName("butBounceMsg");
    m_butBounceMsg->setAccessibleName(tr("Custom message"));
    m_chkDelete = AddCheckBox("chkDelete", tr("&Delete message"), &ListsPage::chkDeleteClick);
    for (QWidget* dependent :
         {static_cast<QWidget*>(m_chkForward), static_cast<QWidget*>(m_edtForward),
          static_cast<QWidget*>(m_chkBounce), static_cast<QWidget*>(m_butBounceMsg),
          static_cast<QWidget*>(m_chkDelete)})
        KeepPlaceWhenHidden(dependent);
    connect(m_edtForward, &QLineEdit::textChanged, this, &ListsPage::edtForwardChange);
    connect(m_butBounceMsg, &QPushButton::clicked, this, &ListsPage::butBounceMsgClick);

    auto* responses = new QGridLayout;
    responses->addWidget(m_chkForward, 0, 0);
    responses->addWidget(m_edtForward, 0, 1);
    responses->addWidget(m_chkBounce, 1, 0);
    responses->addWidget(m_butBounceMsg, 1, 1, Qt::AlignLeft);
    responses->addWidget(m_chkDelete, 2, 0);
    responses->setColumnStretch(1, 1);
    auto* rejectLayout = new QVBoxLayout(reject);
    rejectLayout->addWidget(m_chkEnableReject);
    rejectLayout->addWidget(m_memoReject, 1);
    rejectLayout->addLayout(responses);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(accept);
    layout->addWidget(reject);

    // Before any mailbox is loaded: the reject list on, its three responses off.
    m_chkEnableReject->setChecked(true);
    UpdateVisibility();
}

QCheckBox* ListsPage::AddCheckBox(const char* name, const QString& caption,
                                  void (ListsPage::*click)()) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    // toggled, not clicked: a box that loading a mailbox changes runs its handler too.
    connect(box, &QCheckBox::toggled, this, click);
    return box;
}

QPlainTextEdit* ListsPage::AddList(const char* name, const QString& accessibleName,
                                   void (ListsPage::*exit)()) {
    auto* memo = new QPlainTextEdit(this);
    memo->setObjectName(name);
    memo->setAccessibleName(accessibleName);
    memo->setToolTip(tr("One address or part of an address per line"));
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setTabChangesFocus(true);
    // The lists take the page's height; this many lines at least.
    const int rows = 8;
    memo->setMinimumHeight(memo->fontMetrics().lineSpacing() * rows + 2 * memo->frameWidth() + 8);
    OnFieldExit(memo, [this, exit] { (this->*exit)(); });
    return memo;
}

void ListsPage::SetMailboxSource(std::function<QString()> selectedMailbox) {
    m_selectedMailbox = std::move(selectedMailbox);
}

std::string ListsPage::SelectedMailbox() const {
    return m_selectedMailbox ? m_selectedMailbox().toStdString() : std::string();
}

void ListsPage::UpdateVisibility() {
    const bool responses = m_chkEnableReject->isChecked();
    m_chkForward->setVisible(responses);
    m_chkBounce->setVisible(responses);
    m_chkDelete->setVisible(responses);
    m_edtForward->setVisible(responses && m_chkForward->isChecked());
    m_butBounceMsg->setVisible(responses && m_chkBounce->isChecked());
}

// ---- Loading ----

void ListsPage::tabListsShow() {
    const std::string mailbox = SelectedMailbox();
    m_acceptLines.clear();
    m_rejectLines.clear();
    m_memoAccept->clear();
    m_memoReject->clear();
    if (mailbox.empty()) return;
    ShowingErrors(m_context.dialogs, [&] {
        const std::string path = DataFilePath(m_context.engine.programDir, mailbox);
        m_acceptLines = ReadSectionLines(path, kSectionAcceptList);
        m_memoAccept->setPlainText(ListText(m_acceptLines));
        m_rejectLines = ReadSectionLines(path, kSectionRejectList);
        m_memoReject->setPlainText(ListText(m_rejectLines));
    });
}

void ListsPage::ShowLoadedSwitch(const QString& valueName, bool checked) {
    const std::string name = valueName.toStdString();
    QCheckBox* box = name == schema::AcceptListEnabled   ? m_chkEnableAccept
                     : name == schema::RejectListEnabled ? m_chkEnableReject
                     : name == schema::ForwardToEnabled  ? m_chkForward
                     : name == schema::BounceEnabled     ? m_chkBounce
                     : name == schema::DeleteEnabled     ? m_chkDelete
                                                         : nullptr;
    if (box != nullptr) box->setChecked(checked);
}

void ListsPage::ShowLoadedForwardAddress(const std::string& address) {
    m_forwardAddress = address;
    m_edtForward->setText(QString::fromStdString(address));
}

void ListsPage::ClearPage() {
    for (QCheckBox* box :
         {m_chkEnableAccept, m_chkEnableReject, m_chkForward, m_chkBounce, m_chkDelete})
        box->setChecked(true);
    m_forwardAddress.clear();
    m_edtForward->clear();
    m_acceptLines.clear();
    m_rejectLines.clear();
    m_memoAccept->clear();
    m_memoReject->clear();
}

// ---- Handlers ----

void ListsPage::StoreFlag(const char* valueName, const QCheckBox* box) {
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) return;
    ShowingErrors(m_context.dialogs, [&] {
        WriteRegBool(m_context.Settings(), MailboxKeyPath(mailbox), valueName, box->isChecked());
    });
}

void ListsPage::chkEnableAcceptClick() {
    StoreFlag(schema::AcceptListEnabled, m_chkEnableAccept);
}

void ListsPage::chkEnableRejectClick() {
    UpdateVisibility();
    StoreFlag(schema::RejectListEnabled, m_chkEnableReject);
}

void ListsPage::chkForwardClick() {
    UpdateVisibility();
    StoreFlag(schema::ForwardToEnabled, m_chkForward);
}

void ListsPage::chkBounceClick() {
    UpdateVisibility();
    StoreFlag(schema::BounceEnabled, m_chkBounce);
}

void ListsPage::chkDeleteClick() {
    StoreFlag(schema::DeleteEnabled, m_chkDelete);
}

void ListsPage::edtForwardChange() {
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) return;
    ShowingErrors(m_context.dialogs, [&] {
        // As stored while it shows the stored address: one that is not UTF-8 stays as it was.
        const QString shown = m_edtForward->text();
        if (shown != QString::fromStdString(m_forwardAddress))
            m_forwardAddress = shown.toStdString();
        WriteRegString(m_context.Settings(), MailboxKeyPath(mailbox), schema::ForwardAddress,
                       m_forwardAddress);
    });
}

void ListsPage::StoreList(QPlainTextEdit* memo, std::vector<std::string>& shown,
                          std::string_view section) {
    const std::string mailbox = SelectedMailbox();
    if (mailbox.empty()) return;
    // A list left unchanged is written back as the file held it: an entry that is not UTF-8
    // would not survive the way through the text field.
    const QString text = memo->toPlainText();
    std::vector<std::string> lines = text == ListText(shown) ? shown : ListLines(text);
    ShowingErrors(m_context.dialogs, [&] {
        WriteSection(DataFilePath(m_context.engine.programDir, mailbox), section, lines);
        shown = std::move(lines);
    });
}

void ListsPage::memoAcceptExit() {
    StoreList(m_memoAccept, m_acceptLines, kSectionAcceptList);
}

void ListsPage::memoRejectExit() {
    StoreList(m_memoReject, m_rejectLines, kSectionRejectList);
}

void ListsPage::butBounceMsgClick() {
    emit customMessageRequested();
}

} // namespace zelm
