#pragma once

#include <deque>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>
#include <QUrl>

#include "ui/dialogs.h"

namespace zelm::test {

/// Dialogs answered from a script: each input box or file dialog takes the next queued answer,
/// and every call is recorded. A dialog with no answer queued fails the test and is cancelled,
/// so a test never waits for a person.
class ScriptedDialogs : public Dialogs {
public:
    /// One dialog as it was shown.
    struct Shown {
        QString kind; ///< "line", "message", "open", "save"
        QString caption;
        QString prompt; ///< the prompt, or the message's text
        QString text;   ///< the initial text, folder or path
    };

    /// The next input box is answered with text (nullopt: Cancel).
    void AnswerLine(std::optional<QString> text) {
        m_lines.push_back({text.has_value(), text.value_or(QString())});
    }
    /// The next file dialog is answered with path ("": Cancel).
    void AnswerFile(QString path) { m_files.push_back(std::move(path)); }

    std::optional<QString> AskLine(const QString& caption, const QString& prompt,
                                   const QString& text) override;
    void ShowMessage(const QString& text) override;
    QString ChooseFileToOpen(const QString& caption, const QString& folder,
                             const QString& filter) override;
    QString ChooseFileToSave(const QString& caption, const QString& path,
                             const QString& filter) override;
    void OpenInBrowser(const QUrl& url) override;

    /// Every dialog shown, in order.
    std::vector<Shown> shown;
    /// The texts of the message boxes, in order.
    QStringList messages;
    /// The pages opened in the browser, in order.
    std::vector<QUrl> opened;

private:
    QString NextFile(const char* kind, const QString& caption, const QString& start);

    struct LineAnswer {
        bool accepted;
        QString text;
    };
    std::deque<LineAnswer> m_lines;
    std::deque<QString> m_files;
};

} // namespace zelm::test
