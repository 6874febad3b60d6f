#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/message_text.h"

// The text extraction engine: a filter's routine of cursor movements over the message body and
// of marks that cut pieces of it into named text variables.
//
// How the session wires the "Extract text from body" action: once the message is retrieved,
//     auto cut = RunExtraction(context.settings, context.currentMailbox, filterName, body);
//     values = ExtractionVariableValues(headerSummaryValues, headerText, bodyText, cut);
// replaces the MessageVariables values (variables extracted earlier for this message, by this
// or another filter, are dropped), while the MessageVariables names end with the filter's
// "TextVarNames" that the action executor loaded when the filter's actions started. Names and
// values pair by position only; `PairTextVariables` shows the pairing a caller sees.
namespace zelm {

/// A named text cut from the message body.
struct TextVariable {
    /// The name, from the filter's "TextVarNames".
    std::string name;
    /// The text cut out, trimmed at both ends.
    std::string value;
};

/// Runs a routine (its command lines in order) over the body lines; one value per
/// "Text extraction end" line run, in order. Never fails, whatever the routine or body.
std::vector<std::string> RunExtractionRoutine(std::span<const std::string> routine,
                                              MessageLines bodyLines);

/// Reads the filter's "TextExtract" of the mailbox from the store and runs it over the body
/// lines (MessageBody); a missing routine gives no values.
std::vector<std::string> RunExtraction(SettingsDb& db, const std::string& mailbox,
                                       const std::string& filterName, MessageLines bodyLines);

/// The MessageVariables values after an extraction: the header field values, the "Header"
/// text, the "Body" text, then the values cut.
std::vector<std::string> ExtractionVariableValues(std::span<const std::string> headerFieldValues,
                                                  const std::string& headerText,
                                                  const std::string& bodyText,
                                                  std::span<const std::string> extracted);

/// Pairs "TextVarNames" with the values cut, by position: one variable per name, empty when
/// the routine gave no value at that position (values beyond the last name have no name).
std::vector<TextVariable> PairTextVariables(std::span<const std::string> names,
                                            std::span<const std::string> values);

/// The variable name a "Text extraction end (name)" line gives: from its 22nd character up
/// to, not including, its last; empty for other lines.
std::string TextVariableName(const std::string& routineLine);

/// The "TextVarNames" lines of a routine: the name of every "Text extraction end" line, in
/// routine order.
std::vector<std::string> TextVarNamesOf(std::span<const std::string> routine);

} // namespace zelm
