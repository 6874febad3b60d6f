#include "core/string_helpers.h"

#include <algorithm>
#include <climits>

namespace zelm {

int PosFrom(int start, const std::string& text, const std::string& pattern) {
    const auto length = static_cast<long long>(text.size());
    if (text.empty() || start < 1 || start > length) return 0;
    if (pattern.empty()) return start;
    const auto found = text.find(pattern, static_cast<std::size_t>(start - 1));
    return found == std::string::npos ? 0 : static_cast<int>(found + 1);
}

std::string RightStr(const std::string& text, std::uint16_t count) {
    if (count >= text.size()) return text;
    return text.substr(text.size() - count);
}

SplitResult Split(const std::string& text, const std::string& separator) {
    SplitResult result;
    if (separator.empty()) {
        result.count = -1;
        return result;
    }
    std::size_t scan = 0;
    for (;;) {
        const auto found = scan <= text.size() ? text.find(separator, scan) : std::string::npos;
        if (found == std::string::npos) {
            result.pieces.push_back(scan <= text.size() ? text.substr(scan) : std::string());
            break;
        }
        result.pieces.push_back(text.substr(scan, found - scan));
        scan = found + separator.size();
    }
    result.count = static_cast<int>(result.pieces.size());
    return result;
}

std::optional<std::string_view> SplitPiece(std::string_view text, std::string_view separator,
                                           std::size_t index) {
    if (separator.empty()) return std::nullopt;
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const auto found = text.find(separator, start);
        if (found == std::string_view::npos) return std::nullopt;
        start = found + separator.size();
    }
    return text.substr(start, text.find(separator, start) - start);
}

int CountOccurrences(const std::string& text, const std::string& pattern) {
    if (pattern.empty()) return 0;
    int count = 0;
    for (auto found = text.find(pattern); found != std::string::npos;
         found = text.find(pattern, found + pattern.size())) {
        ++count;
    }
    return count;
}

std::string ReplaceAll(const std::string& text, const std::string& oldText,
                       const std::string& newText) {
    if (oldText.empty()) return text;
    // Each search starts again from the beginning, as callers rely on for texts such as
    // "<<a>>"; one left-to-right pass with a rescan only around each replacement is equal
    // because newText never contains oldText.
    std::string result = text;
    std::size_t from = 0;
    for (;;) {
        const auto found = result.find(oldText, from);
        if (found == std::string::npos) break;
        result.replace(found, oldText.size(), newText);
        // A match may now begin up to oldText.size()-1 characters before the inserted text.
        from = found >= oldText.size() - 1 ? found - (oldText.size() - 1) : 0;
    }
    return result;
}

bool IsDottedIPv4(const std::string& text) {
    const auto split = Split(text, ".");
    if (split.count != 4) return false;
    return std::all_of(split.pieces.begin(), split.pieces.end(), [](const std::string& piece) {
        const auto value = TextToIntDef(piece, -1);
        return value >= 0 && value <= 255;
    });
}

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::int32_t TextToIntDef(std::string_view text, std::int32_t defaultValue) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return defaultValue;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const int digit = base == 16 ? HexDigitValue(text[i])
                                     : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) return defaultValue;
        value = value * base + digit;
        if (value > 0x100000000LL) return defaultValue;
    }
    // Hexadecimal texts are range-checked as decimal ones are: $FFFFFFFF is no 32-bit number.
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return defaultValue;
    return static_cast<std::int32_t>(value);
}

std::string Trim(const std::string& text) {
    return std::string(TrimmedView(text));
}

std::string_view TrimmedView(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

std::string LowerAscii(const std::string& text) {
    std::string result = text;
    std::transform(result.begin(), result.end(), result.begin(), LowerAsciiChar);
    return result;
}

bool ContainsNoCase(const std::string& text, const std::string& pattern) {
    return LowerAscii(text).find(LowerAscii(pattern)) != std::string::npos;
}

bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(LowerAsciiChar(x)) <
               static_cast<unsigned char>(LowerAsciiChar(y));
    });
}

void SetAsideStrings(std::vector<std::string>& list, std::vector<std::string>& spare) {
    if (spare.empty()) spare.swap(list);
    list.clear();
}

void TakeBackStrings(std::vector<std::string>& list, std::vector<std::string>& spare) {
    if (list.empty()) list.swap(spare);
}

std::vector<std::string> SplitListValue(const std::string& value) {
    // Line breaks are CR LF, or a lone CR or LF from another tool; the empty piece after the
    // last break is no line.
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == '\r' || value[i] == '\n') {
            lines.push_back(value.substr(start, i - start));
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < value.size()) lines.push_back(value.substr(start));
    return lines;
}

std::string JoinListValue(const std::vector<std::string>& lines) {
    // Sized once: a large message's body is joined without the copies of a growing string.
    std::size_t size = 0;
    for (const auto& line : lines)
        size += line.size() + 2;
    std::string value;
    value.reserve(size);
    for (const auto& line : lines) {
        value += line;
        value += "\r\n";
    }
    return value;
}

} // namespace zelm
