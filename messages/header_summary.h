#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_text.h"

// The header summary of the message being processed and the name/value table that
// placeholders, recipient references and the template dialog draw from. The POP3 client fills
// the header lines; everything here is pure text work over them.
namespace zelm {

/// The header field names that filter rules can test, in ascending order ignoring case.
using HeaderFieldList = std::vector<std::string>;

/// The ten names every field list starts with; none of them can be removed by the user.
inline constexpr std::array<std::string_view, 10> kBuiltInHeaderFields = {
    "Bcc",      "Cc",          "From", "Originator", "Recipients",
    "Reply-To", "Return-Path", "Size", "Subject",    "To",
};

/// A fresh list holding the ten built-in names.
HeaderFieldList BuiltInHeaderFieldList();
/// The list kept in the "HeaderFields" setting (one name per line); empty lines are no names.
HeaderFieldList HeaderFieldListFromStored(const std::string& storedValue);
/// Sorts names ascending without regard to case (A to Z only), keeping equal names in order.
void SortHeaderFieldList(HeaderFieldList& fields);
/// Position of the first name equal to name ignoring case, or nullopt.
std::optional<std::size_t> FindFieldName(const std::vector<std::string>& names,
                                         std::string_view name);

/// The current message's value for every field of the list, plus the copies that screening
/// and the actions read directly.
struct HeaderSummary {
    /// The field list the values were parsed against (same order as values).
    HeaderFieldList fields;
    /// One value per field; empty when the header lacks it.
    std::vector<std::string> values;
    /// Copies of the six values screening and the actions use.
    std::string to, subject, from, replyTo, returnPath, originator;
    /// The message's size in bytes as LIST reported it.
    std::int64_t size = 0;
    /// Values set aside by Clear: the next message's values are written into their room.
    /// Never read.
    std::vector<std::string> spareValues;

    /// The value of a field named without regard to case; nullopt when not in the list.
    std::optional<std::string_view> Value(std::string_view name) const;
    /// Empties everything, as a fresh summary is, keeping the room for the next message.
    void Clear();
};

/// Names and values of the current message for placeholders and recipient references:
/// header fields, then "Header" and "Body", then the current filter's text variables.
struct MessageVariables {
    std::vector<std::string> names;
    std::vector<std::string> values;
    /// The retrieved body, read in place for "Body" (whose slot in values stays empty), so a
    /// large message is not held a second time; null until the message is retrieved.
    const MessageText* body = nullptr;
    /// The position of "Body" in values while body is set.
    std::size_t bodyPosition = 0;
    /// Values set aside by ClearValues for the next message's room. Never read.
    std::vector<std::string> spareValues;

    /// Rebuilds the names: the field list, "Header", "Body", then the text variable names.
    void RebuildNames(const HeaderFieldList& fields, const std::vector<std::string>& textVarNames);
    /// The value for a name ignoring case (first match); nullopt when the name is unknown.
    /// A known name whose position has no value yet reads as empty.
    std::optional<std::string_view> Lookup(std::string_view name) const;
    /// Empties values (and forgets the body), setting the values aside for their room.
    void ClearValues();
};

/// Bare e-mail addresses, one per entry, handed to the SMTP sender.
using RecipientList = std::vector<std::string>;

/// Where the names the header parser fills itself (Size, To, ..., Originator) sit in a field
/// list, found again only when the list changes.
struct SummaryFieldPositions {
    /// The list the positions belong to.
    HeaderFieldList fields;
    bool found = false;
    std::optional<std::size_t> size, to, subject, from, replyTo, returnPath, cc, bcc, recipients,
        originator;

    /// Finds the positions in list, unless they were found in an equal list before.
    void Find(const HeaderFieldList& list);
};

/// What the header parser and recipient expansion fill for the message being processed; the
/// session holds one and resets it per message.
struct MessageState {
    HeaderSummary headerSummary;
    MessageVariables messageVariables;
    RecipientList recipientList;
    /// The parser's own bookkeeping, kept from message to message.
    SummaryFieldPositions summaryPositions;
};

/// Reduces the header lines of a TOP reply (without status and "." lines) to the summary of
/// the given fields, and resets the variable values to the header values. Always true.
bool ParseHeaders(const std::vector<std::string>& headerLines, const HeaderFieldList& fields,
                  std::int64_t messageSize, MessageState& state);

/// The value of the header's last field of that name (compared without regard to case), trimmed,
/// its continuation lines joined with blanks; nullopt when the header has no such field.
std::optional<std::string> HeaderFieldValue(const std::vector<std::string>& headerLines,
                                            std::string_view name);

/// The first blank-separated word holding "@", stripped of <>"'`()[]; empty when none.
std::string ExtractAddress(std::string_view text);

/// Fills state.recipientList from comma-separated entries; an entry "{Name}" is replaced by
/// that variable's value first. Entries without "@" stay as empty entries.
void ExpandRecipients(const std::string& list, MessageState& state);

/// Appends the "Header" and "Body" values once the message has been retrieved. "Body" reads
/// messageBody where it lies, so it must outlive the variables' use.
void AppendRetrievedValues(MessageVariables& variables, const std::vector<std::string>& headerLines,
                           const MessageText& messageBody);
void AppendRetrievedValues(MessageVariables&, const std::vector<std::string>&,
                           const MessageText&&) = delete;
/// Resets the values to the header values, "Header" and "Body", dropping extracted variables
/// (for a message retrieved earlier, before another extraction runs).
void ResetRetrievedValues(MessageState& state, const std::vector<std::string>& headerLines,
                          const MessageText& messageBody);
void ResetRetrievedValues(MessageState&, const std::vector<std::string>&,
                          const MessageText&&) = delete;

/// Retrieves the current message's whole text; true when it arrived. The POP3 client supplies
/// it, since this layer cannot reach the server.
using RetrieveMessage = std::function<bool()>;

/// The body of EnsureRetrieved: runs retrieve and, only when it succeeded, appends "Header"
/// and "Body" from the lists retrieve has filled. Returns what retrieve returned.
bool EnsureRetrievedWith(const RetrieveMessage& retrieve, MessageVariables& variables,
                         const std::vector<std::string>& headerLines,
                         const MessageText& messageBody);

} // namespace zelm
