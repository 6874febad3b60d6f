#include "ui/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace zelm {

std::optional<QString> QtDialogs::AskLine(const QString& caption, const QString& prompt,
                                          const QString& text) {
    bool accepted = false;
    const QString answer =
        QInputDialog::getText(m_parent, caption, prompt, QLineEdit::Normal, text, &accepted);
    if (!accepted) return std::nullopt;
    return answer;
}

void QtDialogs::ShowMessage(const QString& text) {
    QMessageBox::information(m_parent, m_caption, text);
}

QString QtDialogs::ChooseFileToOpen(const QString& caption, const QString& folder,
                                    const QString& filter) {
    return QFileDialog::getOpenFileName(m_parent, caption, folder, filter);
}

QString QtDialogs::ChooseFileToSave(const QString& caption, const QString& path,
                                    const QString& filter) {
    return QFileDialog::getSaveFileName(m_parent, caption, path, filter);
}

void QtDialogs::OpenInBrowser(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

} // namespace zelm
