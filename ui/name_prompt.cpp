#include "ui/name_prompt.h"

#include <algorithm>

#include "core/string_helpers.h"
#include "ui/dialogs.h"

namespace zelm {

std::optional<std::string> AskNewName(Dialogs& dialogs, const NamePrompt& texts,
                                      const std::vector<std::string>& existing,
                                      const NameRefusal& refusal, const QString& initial) {
    QString prompt = texts.prompt;
    QString typed = initial;
    while (true) {
        const std::optional<QString> answer = dialogs.AskLine(texts.caption, prompt, typed);
        if (!answer) return std::nullopt;
        typed = *answer;
        const std::string name = typed.toStdString();
        if (name.empty()) {
            prompt = texts.emptyNameMessage;
        } else if (std::any_of(existing.begin(), existing.end(), [&](const std::string& other) {
                       return EqualsNoCase(other, name);
                   })) {
            prompt = QStringLiteral("The name already exists. Please select a new one.");
        } else if (const std::string refused = refusal ? refusal(name) : std::string();
                   !refused.empty()) {
            prompt = QString::fromStdString(refused);
        } else {
            return name;
        }
    }
}

} // namespace zelm
