#include "tests/ui/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace zelm::test {

std::optional<QString> ScriptedDialogs::AskLine(const QString& caption, const QString& prompt,
                                                const QString& text) {
    shown.push_back({"line", caption, prompt, text});
    if (m_lines.empty()) {
        ADD_FAILURE() << "input box '" << caption.toStdString() << "' shown without an answer";
        return std::nullopt;
    }
    const LineAnswer answer = m_lines.front();
    m_lines.pop_front();
    if (!answer.accepted) return std::nullopt;
    return answer.text;
}

void ScriptedDialogs::ShowMessage(const QString& text) {
    shown.push_back({"message", QString(), text, QString()});
    messages.append(text);
}

QString ScriptedDialogs::NextFile(const char* kind, const QString& caption, const QString& start) {
    shown.push_back({kind, caption, QString(), start});
    if (m_files.empty()) {
        ADD_FAILURE() << "file dialog '" << caption.toStdString() << "' shown without an answer";
        return {};
    }
    QString answer = m_files.front();
    m_files.pop_front();
    return answer;
}

QString ScriptedDialogs::ChooseFileToOpen(const QString& caption, const QString& folder,
                                          const QString&) {
    return NextFile("open", caption, folder);
}

QString ScriptedDialogs::ChooseFileToSave(const QString& caption, const QString& path,
                                          const QString&) {
    return NextFile("save", caption, path);
}

void ScriptedDialogs::OpenInBrowser(const QUrl& url) {
    opened.push_back(url);
}

} // namespace zelm::test
