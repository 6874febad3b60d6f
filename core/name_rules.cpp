#include "core/name_rules.h"

#include <algorithm>

#include "core/config_store.h"
#include "core/schema.h"
#include "core/settings_export.h"
#include "core/string_helpers.h"

namespace zelm {

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

namespace {

bool HasControlCharacter(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

bool IsTemplateName(const std::string& lowerName) {
    return lowerName.size() == 6 && (lowerName[0] == 'm' || lowerName[0] == 'd') &&
           std::all_of(lowerName.begin() + 1, lowerName.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool IsProgramFileName(const std::string& lowerName) {
    // The files and folders the program itself keeps in the home folder. A mailbox named like
    // one of them would have its data file or outbox folder land on it.
    static constexpr const char* fixedNames[] = {
        "settings.db", "settings.db-wal", "settings.db-shm", "settings.db-journal", "zelm.lock",
        "error.log",   "zelm.dat",        "zelm$$$$.$$$",    "zelmb$$$.$$$",
    };
    for (const char* fixed : fixedNames) {
        if (lowerName == fixed) return true;
    }
    static constexpr const char* weekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    for (const char* day : weekdays) {
        const std::string log = std::string(day) + ".log";
        if (lowerName == log || lowerName == log + ".old") return true;
    }
    return false;
}

// Leaves room for ".dat" within the file system's 255-byte name limit.
constexpr std::size_t MaxMailboxNameLength = 250;

bool PathEquals(const std::vector<std::string>& parts, std::size_t count,
                const std::vector<std::string>& expected) {
    if (count != expected.size()) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!EqualsNoCase(parts[i], expected[i])) return false;
    }
    return true;
}

} // namespace

std::string CommonNameProblem(const std::string& name) {
    if (name.empty()) return "the name is empty";
    if (name.find_first_of("/\\") != std::string::npos)
        return "the name must not hold \"/\" or \"\\\"";
    if (name == "." || name == "..") return "the name must not be \".\" or \"..\"";
    if (HasControlCharacter(name)) return "the name must not hold control characters";
    return {};
}

std::string MailboxNameProblem(const std::string& name) {
    std::string problem = CommonNameProblem(name);
    if (!problem.empty()) return problem;
    if (name.size() > MaxMailboxNameLength) return "the name is longer than 250 bytes";
    const std::string lower = LowerAscii(name);
    // The data file is name + ".dat", the journal name + ".jnl" and the outbox folder is name
    // itself; none may take the place of a template, "zelm.dat", a log or the store, nor of
    // another mailbox's data file or journal (which a name ending in ".dat" or ".jnl" would).
    if (lower == "zelm" || IsTemplateName(lower) || IsProgramFileName(lower) ||
        lower.ends_with(".dat") || lower.ends_with(".jnl"))
        return "the name is kept for the program's own files";
    return {};
}

std::string FilterNameProblem(const std::string& name) {
    return CommonNameProblem(name);
}

std::string MailboxNameRefusal(const std::string& name) {
    const std::string problem = MailboxNameProblem(name);
    if (problem.empty()) return {};
    return "The mailbox name " + QuoteSettingText(name) + " is refused: " + problem + ".";
}

std::string FilterNameRefusal(const std::string& name) {
    const std::string problem = FilterNameProblem(name);
    if (problem.empty()) return {};
    return "The filter name " + QuoteSettingText(name) + " is refused: " + problem + ".";
}

// Mailbox and filter keys get their own checks; every key name is refused control characters,
// so the export's [key] lines always read back.
std::string KeyNameProblem(const std::vector<std::string>& parts, std::size_t index) {
    static const std::vector<std::string> mailboxesPath = [] {
        auto path = SplitKeyPath(SettingsRoot);
        path.push_back(schema::MailboxesKey);
        return path;
    }();
    const std::string& name = parts[index];
    if (PathEquals(parts, index, mailboxesPath)) {
        return MailboxNameRefusal(name);
    }
    if (index == mailboxesPath.size() + 2 &&
        PathEquals(parts, mailboxesPath.size(), mailboxesPath) &&
        EqualsNoCase(parts[index - 1], schema::FiltersKey)) {
        return FilterNameRefusal(name);
    }
    if (HasControlCharacter(name))
        return "The key name " + QuoteSettingText(name) +
               " is refused: it holds control characters.";
    return {};
}

} // namespace zelm
