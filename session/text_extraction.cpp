#include "session/text_extraction.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "core/name_rules.h"
#include "core/schema.h"
#include "core/string_helpers.h"

namespace zelm {
namespace {

enum class Command {
    MsgStart,
    MsgEnd,
    LineStart,
    LineEnd,
    StringInMsg,
    StringInLine,
    ForwardLines,
    BackLines,
    ForwardChars,
    BackChars,
    ExtractionStart,
    ExtractionEnd,
};

struct CommandText {
    std::string_view text;
    Command command;
};

// Tested in this order; the first whose text begins the line decides.
constexpr CommandText kCommands[] = {
    {"Go to msg start", Command::MsgStart},
    {"Go to msg end", Command::MsgEnd},
    {"Go to line start", Command::LineStart},
    {"Go to line end", Command::LineEnd},
    {"Go to string in msg", Command::StringInMsg},
    {"Go to string in line", Command::StringInLine},
    {"Forward # of lines", Command::ForwardLines},
    {"Back # of lines", Command::BackLines},
    {"Forward # of chars", Command::ForwardChars},
    {"Back # of chars", Command::BackChars},
    {"Text extraction start", Command::ExtractionStart},
    {"Text extraction end", Command::ExtractionEnd},
};

constexpr std::string_view kExtractionEnd = "Text extraction end";
// A "Text extraction end (name)" line holds its name from this 0-based offset on.
constexpr std::size_t kNameOffset = kExtractionEnd.size() + 2;

// The command's argument: what follows the line's first colon, trimmed. A line without a
// colon has none.
std::string_view Argument(std::string_view line) {
    const auto colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view()
                                           : TrimmedView(line.substr(colon + 1));
}

void TrimInPlace(std::string& text) {
    const auto trimmed = TrimmedView(text);
    const auto offset = static_cast<std::size_t>(trimmed.data() - text.data());
    const auto length = trimmed.size();
    text.erase(0, offset);
    text.resize(length);
}

// A count is a decimal integer, an optional minus sign and digits; anything else counts as 0
// (the shared conversion would also take "+" and hexadecimal).
std::int64_t Count(std::string_view line) {
    const std::string_view text = Argument(line);
    const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return 0;
    }
    return TextToIntDef(std::string(text), 0);
}

// The cursor over the body. Columns are 1-based; length + 1 stands after a line's last
// character. A body without lines has one empty line as far as the cursor is concerned, so
// every position stays valid.
class Cursor {
public:
    explicit Cursor(MessageLines body) : m_body(body) {}

    void Run(std::string_view line, std::vector<std::string>& values) {
        const auto* match =
            std::find_if(std::begin(kCommands), std::end(kCommands),
                         [&](const CommandText& c) { return line.starts_with(c.text); });
        if (match == std::end(kCommands)) return;
        switch (match->command) {
        case Command::MsgStart:
            m_line = 0;
            m_column = 1;
            break;
        case Command::MsgEnd:
            m_line = LastLine();
            m_column = EndColumn();
            break;
        case Command::LineStart:
            m_column = 1;
            break;
        case Command::LineEnd:
            m_column = EndColumn();
            break;
        case Command::StringInMsg:
            GoToStringInMsg(Argument(line));
            break;
        case Command::StringInLine: {
            const auto found = Find(m_line, m_column, Argument(line));
            m_column = found != 0 ? found : EndColumn();
            break;
        }
        case Command::ForwardLines:
            MoveLines(Count(line));
            break;
        case Command::BackLines:
            MoveLines(-Count(line));
            break;
        case Command::ForwardChars:
            MoveColumns(Count(line));
            break;
        case Command::BackChars:
            MoveColumns(-Count(line));
            break;
        case Command::ExtractionStart:
            m_markLine = m_line;
            m_markColumn = m_column;
            break;
        case Command::ExtractionEnd:
            values.push_back(Cut());
            break;
        }
    }

private:
    std::size_t LastLine() const { return m_body.empty() ? 0 : m_body.size() - 1; }
    std::string_view Line(std::size_t index) const {
        return index < m_body.size() ? m_body[index] : std::string_view();
    }
    std::size_t EndColumn() const { return Line(m_line).size() + 1; }

    // The column of the first match at or after column, or 0. A search from beyond the end
    // of a line, or in an empty line, finds nothing; an empty text matches at column.
    std::size_t Find(std::size_t index, std::size_t column, std::string_view text) const {
        const auto line = Line(index);
        if (line.empty() || column > line.size()) return 0;
        if (text.empty()) return column;
        const auto found = line.find(text, column - 1);
        return found == std::string_view::npos ? 0 : found + 1;
    }

    void GoToStringInMsg(std::string_view text) {
        for (auto index = m_line, column = m_column; index < m_body.size(); ++index, column = 1) {
            if (const auto found = Find(index, column, text); found != 0) {
                m_line = index;
                m_column = found;
                return;
            }
        }
        m_line = LastLine();
        m_column = EndColumn();
    }

    // Counts may be negative or huge: the cursor is clamped to the body either way.
    void MoveLines(std::int64_t count) {
        const auto target = static_cast<std::int64_t>(m_line) + count;
        m_line = static_cast<std::size_t>(
            std::clamp<std::int64_t>(target, 0, static_cast<std::int64_t>(LastLine())));
        m_column = 1;
    }

    void MoveColumns(std::int64_t count) {
        const auto target = static_cast<std::int64_t>(m_column) + count;
        m_column = static_cast<std::size_t>(
            std::clamp<std::int64_t>(target, 1, static_cast<std::int64_t>(EndColumn())));
    }

    // The text from the start mark to the cursor, trimmed. An end before the mark cuts
    // nothing, as it does within one line.
    std::string Cut() const {
        if (m_markLine == m_line) {
            if (m_column <= m_markColumn) return {};
            return std::string(
                TrimmedView(Line(m_line).substr(m_markColumn - 1, m_column - m_markColumn)));
        }
        if (m_markLine > m_line) return {};
        const auto head = Line(m_markLine).substr(m_markColumn - 1);
        const auto tail = Line(m_line).substr(0, m_column - 1);
        // Sized once, so a cut over a long body costs one copy of it.
        std::size_t size = head.size() + 2 + tail.size();
        for (auto index = m_markLine + 1; index < m_line; ++index)
            size += Line(index).size() + 2;
        std::string text;
        text.reserve(size);
        text += head;
        text += "\r\n";
        for (auto index = m_markLine + 1; index < m_line; ++index) {
            text += Line(index);
            text += "\r\n";
        }
        text += tail;
        TrimInPlace(text);
        return text;
    }

    MessageLines m_body;
    std::size_t m_line = 0;
    std::size_t m_column = 1;
    // A cut without a start before it takes the message start as its mark.
    std::size_t m_markLine = 0;
    std::size_t m_markColumn = 1;
};

} // namespace

std::vector<std::string> RunExtractionRoutine(std::span<const std::string> routine,
                                              MessageLines bodyLines) {
    std::vector<std::string> values;
    Cursor cursor(bodyLines);
    for (const auto& line : routine)
        cursor.Run(line, values);
    return values;
}

std::vector<std::string> RunExtraction(SettingsDb& db, const std::string& mailbox,
                                       const std::string& filterName, MessageLines bodyLines) {
    // A name that cannot be a filter's has no routine of its own.
    if (filterName.empty() || !FilterNameProblem(filterName).empty()) return {};
    const auto routine = SplitListValue(
        ReadRegString(db, FilterKeyPath(mailbox, filterName), schema::TextExtract, ""));
    return RunExtractionRoutine(routine, bodyLines);
}

std::vector<std::string> ExtractionVariableValues(std::span<const std::string> headerFieldValues,
                                                  const std::string& headerText,
                                                  const std::string& bodyText,
                                                  std::span<const std::string> extracted) {
    std::vector<std::string> values;
    values.reserve(headerFieldValues.size() + 2 + extracted.size());
    values.assign(headerFieldValues.begin(), headerFieldValues.end());
    values.push_back(headerText);
    values.push_back(bodyText);
    values.insert(values.end(), extracted.begin(), extracted.end());
    return values;
}

std::vector<TextVariable> PairTextVariables(std::span<const std::string> names,
                                            std::span<const std::string> values) {
    std::vector<TextVariable> variables;
    variables.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        variables.push_back({names[i], i < values.size() ? values[i] : std::string()});
    return variables;
}

std::string TextVariableName(const std::string& routineLine) {
    if (!routineLine.starts_with(kExtractionEnd) || routineLine.size() <= kNameOffset + 1)
        return {};
    return routineLine.substr(kNameOffset, routineLine.size() - 1 - kNameOffset);
}

std::vector<std::string> TextVarNamesOf(std::span<const std::string> routine) {
    std::vector<std::string> names;
    for (const auto& line : routine) {
        if (line.starts_with(kExtractionEnd)) names.push_back(TextVariableName(line));
    }
    return names;
}

} // namespace zelm
