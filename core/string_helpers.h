#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text functions shared by the protocols, the header parser, the filters and the editors.
// Positions count from 1; 0 means "not found". Their behaviour at the edges is relied on.
namespace zelm {

/// Position of the first occurrence of pattern at or after start, or 0.
int PosFrom(int start, const std::string& text, const std::string& pattern);
/// The last count characters of text (count is 0 to 65535).
std::string RightStr(const std::string& text, std::uint16_t count);

/// Pieces of a Split; count is pieces.size(), or -1 for an empty separator (no pieces).
struct SplitResult {
    std::vector<std::string> pieces;
    int count = 0;
};
/// Cuts text at every occurrence of separator; the count is separators + 1.
SplitResult Split(const std::string& text, const std::string& separator);
/// The piece Split(text, separator) would give at index, without building the others; nullopt
/// when there are fewer pieces (or the separator is empty).
std::optional<std::string_view> SplitPiece(std::string_view text, std::string_view separator,
                                           std::size_t index);
/// Number of non-overlapping occurrences of pattern (0 for an empty pattern).
int CountOccurrences(const std::string& text, const std::string& pattern);
/// Replaces every occurrence of oldText by newText (newText must not contain oldText).
std::string ReplaceAll(const std::string& text, const std::string& oldText,
                       const std::string& newText);
/// True when text is four dot-separated numbers from 0 to 255.
bool IsDottedIPv4(const std::string& text);
/// The shared number conversion; defaultValue when text is not a whole 32-bit number.
std::int32_t TextToIntDef(std::string_view text, std::int32_t defaultValue);

/// Removes characters with codes up to 32 at both ends.
std::string Trim(const std::string& text);
/// Trim without a copy: the part of text that Trim keeps.
std::string_view TrimmedView(std::string_view text);
/// Lower-cases only the letters A to Z.
std::string LowerAscii(const std::string& text);
/// LowerAscii for one character.
inline char LowerAsciiChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}
/// Case-insensitive substring test that lower-cases only A to Z.
bool ContainsNoCase(const std::string& text, const std::string& pattern);
/// Names compare without regard to case (A to Z only). Inline: header names and ids are
/// compared many times per message, and most comparisons end at the sizes.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i])) return false;
    }
    return true;
}
/// Ascending order without regard to case (A to Z only), for sorted name lists.
bool LessNoCase(const std::string& a, const std::string& b);

/// Empties list, keeping its strings in spare (unless spare already holds some) so that the
/// next contents can be written into their room.
void SetAsideStrings(std::vector<std::string>& list, std::vector<std::string>& spare);
/// Gives an empty list the strings spare kept, to be overwritten in place; a list that is not
/// empty keeps its own.
void TakeBackStrings(std::vector<std::string>& list, std::vector<std::string>& spare);

/// Splits a stored list value into its lines, ignoring the empty piece after the last CR LF.
std::vector<std::string> SplitListValue(const std::string& value);
/// Joins lines into a stored list value: every line, the last included, followed by CR LF.
std::string JoinListValue(const std::vector<std::string>& lines);

} // namespace zelm
