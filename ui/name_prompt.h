#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace zelm {

class Dialogs;

/// The texts of one name prompt.
struct NamePrompt {
    QString caption;
    QString prompt;
    /// The prompt shown instead when OK is pressed with nothing typed.
    QString emptyNameMessage;
};

/// Why a name may not be taken ("" when it may), for names a store or file refuses.
using NameRefusal = std::function<std::string(const std::string& name)>;

/// Asks for a new name in an input box that starts with initial. An empty name, one already
/// among existing (without regard to case) or one that refusal refuses shows the box again
/// with the reason as its prompt and the typed text kept. nullopt when cancelled. Names are
/// not trimmed.
std::optional<std::string> AskNewName(Dialogs& dialogs, const NamePrompt& texts,
                                      const std::vector<std::string>& existing,
                                      const NameRefusal& refusal = {},
                                      const QString& initial = QString());

} // namespace zelm
