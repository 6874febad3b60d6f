#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/config_store.h"

// Filter rules: one header field tested per line, lines combined with AND and OR strictly from
// left to right.
//
// How the session wires it: for every filter name of the mailbox's "Operation" list the driver
// builds a `FilterMessage` from the HeaderFieldList names, the HeaderSummary values at the same
// positions and MessageSize, and calls
//     EvaluateFilter(context.settings, context.currentMailbox, filterName, message)
// which reads the filter's "Rules" afresh from the store, as every message must.
namespace zelm {

/// The current message as the rules see it. Names and values are parallel lists in
/// HeaderFieldList order; a name without a value at its position reads as empty.
struct FilterMessage {
    /// The HeaderFieldList names, in list order.
    std::span<const std::string> fieldNames;
    /// The HeaderSummary values, one per name.
    std::span<const std::string> fieldValues;
    /// MessageSize in bytes, compared by the "Size is greater than" and "is less than" rules.
    std::int64_t messageSize = 0;
};

/// One stored rule line as the evaluation met it, for the test run's report.
struct RuleLineTrace {
    /// What the line is to the evaluation.
    enum class Kind {
        /// A condition joined by OR, AND, a blank connector, or the first line's connector.
        Condition,
        /// Blank after trimming: skipped.
        Blank,
        /// A connector other than AND, OR or blanks: the line has no effect.
        NoEffect,
    };
    /// The line as stored.
    std::string line;
    Kind kind = Kind::Condition;
    /// "OR", "AND", or "" (blank connector or first line: taken as OR).
    std::string connector;
    /// The session evaluated the condition; false when the result was already decided.
    bool evaluated = false;
    /// The condition's own result (worked out for the report even when not evaluated).
    bool own = false;
    /// The AND/OR result from the first line up to this one.
    bool running = false;
    /// The condition names "Size" or a field of the header field list.
    bool knownField = true;
    /// The last evaluated line: its result is the filter's.
    bool deciding = false;
};

/// Evaluates one rule's condition (the line from its seventh character, trimmed).
bool EvaluateCondition(std::string_view condition, const FilterMessage& message);

/// Evaluates a stored "Rules" value (lines each followed by CR LF) against the message. With
/// trace, every line is also described there, in stored order.
bool EvaluateRules(const std::string& rules, const FilterMessage& message,
                   std::vector<RuleLineTrace>* trace = nullptr);

/// Reads the filter's "Rules" of the mailbox from the store and evaluates them; a filter with
/// no key, no rules or an empty name never matches.
bool EvaluateFilter(SettingsDb& db, const std::string& mailbox, const std::string& filterName,
                    const FilterMessage& message, std::vector<RuleLineTrace>* trace = nullptr);

} // namespace zelm
