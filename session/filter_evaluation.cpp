#include "session/filter_evaluation.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/name_rules.h"
#include "core/schema.h"
#include "core/string_helpers.h"

namespace zelm {
namespace {

constexpr std::string_view kSizeGreater = "Size is greater than";
constexpr std::string_view kSizeLess = "Size is less than";
constexpr std::string_view kContains = " contains";
constexpr std::string_view kDoesNotContain = " does not contain";
// Width of the connector column in front of every rule line.
constexpr std::size_t kConnectorWidth = 6;

// The characters from the 1-based position `from` up to the last but one: what a rule holds
// between its backquotes. Empty when the line is too short to hold any.
std::string_view BetweenQuotes(std::string_view condition, std::size_t from) {
    if (condition.size() < 1 || from - 1 >= condition.size() - 1) return {};
    return condition.substr(from - 1, condition.size() - from);
}

// A rule's byte count, through the shared number conversion; nothing when the text is not a
// number. Two different defaults tell a real number from the fallback.
std::optional<std::int32_t> SizeOperand(std::string_view text) {
    const std::string number(text);
    const auto value = TextToIntDef(number, 0);
    if (value != TextToIntDef(number, 1)) return std::nullopt;
    return value;
}

// The rules' substring test: an empty value contains nothing, not even the empty text; a
// non-empty value contains the empty text; only A to Z are folded.
bool ValueContains(std::string_view value, std::string_view text) {
    if (value.empty()) return false;
    if (text.empty()) return true;
    const auto found =
        std::search(value.begin(), value.end(), text.begin(), text.end(),
                    [](char a, char b) { return LowerAsciiChar(a) == LowerAsciiChar(b); });
    return found != value.end();
}

// Whether a condition is one the evaluation knows: a Size rule, or a field of the list followed
// by one of the two comparisons. Any other condition is simply false.
bool ConditionNamesKnownField(std::string_view condition, const FilterMessage& message) {
    if (condition.starts_with(kSizeGreater) || condition.starts_with(kSizeLess)) return true;
    for (const auto& field : message.fieldNames) {
        const auto name = TrimmedView(field);
        if (!condition.starts_with(name)) continue;
        const auto rest = condition.substr(name.size());
        if (rest.starts_with(kContains) || rest.starts_with(kDoesNotContain)) return true;
    }
    return false;
}

} // namespace

bool EvaluateCondition(std::string_view condition, const FilterMessage& message) {
    if (condition.starts_with(kSizeGreater)) {
        const auto limit = SizeOperand(BetweenQuotes(condition, kSizeGreater.size() + 3));
        return limit && message.messageSize > *limit;
    }
    if (condition.starts_with(kSizeLess)) {
        const auto limit = SizeOperand(BetweenQuotes(condition, kSizeLess.size() + 3));
        return limit && message.messageSize <= *limit;
    }
    for (std::size_t i = 0; i < message.fieldNames.size(); ++i) {
        const auto name = TrimmedView(message.fieldNames[i]);
        if (!condition.starts_with(name)) continue;
        const auto rest = condition.substr(name.size());
        const std::string_view value =
            i < message.fieldValues.size() ? std::string_view(message.fieldValues[i]) : "";
        // The text starts after the name, the comparison, a blank and the opening backquote.
        if (rest.starts_with(kContains)) {
            if (ValueContains(value, BetweenQuotes(condition, name.size() + kContains.size() + 3)))
                return true;
        } else if (rest.starts_with(kDoesNotContain)) {
            if (!ValueContains(value,
                               BetweenQuotes(condition, name.size() + kDoesNotContain.size() + 3)))
                return true;
        }
    }
    return false;
}

bool EvaluateRules(const std::string& rules, const FilterMessage& message,
                   std::vector<RuleLineTrace>* trace) {
    bool result = false;
    bool firstLine = true;
    // An index: the trace grows line by line, so a pointer into it would not stay valid.
    std::optional<std::size_t> lastEvaluated;
    std::string_view rest(rules);
    while (!rest.empty()) {
        // Lines end in CR LF; a lone CR or LF from another tool ends one too, as for every
        // stored list.
        const auto end = rest.find_first_of("\r\n");
        const auto line = rest.substr(0, end);
        if (end == std::string_view::npos) {
            rest = {};
        } else {
            const bool crLf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
            rest.remove_prefix(end + (crLf ? 2 : 1));
        }
        const bool isFirst = std::exchange(firstLine, false);
        RuleLineTrace* traced = nullptr;
        if (trace) {
            traced = &trace->emplace_back();
            traced->line = std::string(line);
        }
        if (TrimmedView(line).empty()) {
            if (traced) {
                traced->kind = RuleLineTrace::Kind::Blank;
                traced->running = result;
            }
            continue;
        }

        const auto connector = TrimmedView(line.substr(0, kConnectorWidth));
        const auto condition =
            line.size() > kConnectorWidth ? TrimmedView(line.substr(kConnectorWidth)) : "";
        const bool orLine = isFirst || connector == "OR" || connector.empty();
        bool evaluated = false;
        if (orLine) {
            if (!result) {
                result = EvaluateCondition(condition, message);
                evaluated = true;
            }
        } else if (connector == "AND") {
            if (result) {
                result = EvaluateCondition(condition, message);
                evaluated = true;
            }
        }
        if (!traced) continue;
        if (orLine || connector == "AND") {
            traced->connector =
                connector == "AND" || connector == "OR" ? std::string(connector) : "";
            traced->evaluated = evaluated;
            traced->own = evaluated ? result : EvaluateCondition(condition, message);
            traced->knownField = ConditionNamesKnownField(condition, message);
            if (evaluated) lastEvaluated = trace->size() - 1;
        } else {
            traced->kind = RuleLineTrace::Kind::NoEffect;
            traced->connector = std::string(connector);
        }
        traced->running = result;
    }
    if (lastEvaluated) (*trace)[*lastEvaluated].deciding = true;
    return result;
}

bool EvaluateFilter(SettingsDb& db, const std::string& mailbox, const std::string& filterName,
                    const FilterMessage& message, std::vector<RuleLineTrace>* trace) {
    // A name that cannot be a filter's (empty, or one that would address another key) has no
    // rules of its own.
    if (filterName.empty() || !FilterNameProblem(filterName).empty()) return false;
    return EvaluateRules(ReadRegString(db, FilterKeyPath(mailbox, filterName), schema::Rules, ""),
                         message, trace);
}

} // namespace zelm
