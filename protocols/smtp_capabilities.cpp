#include "protocols/smtp_capabilities.h"

#include <algorithm>

#include "core/string_helpers.h"

namespace zelm {

namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool Separates(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// The words of text between blanks and control characters, so that no word carries a CR or
// another control character into a log line.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && !Separates(text[end]))
            ++end;
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

} // namespace

bool SmtpCapabilities::OffersAuth(std::string_view mechanism) const {
    return std::find(authMechanisms.begin(), authMechanisms.end(), mechanism) !=
           authMechanisms.end();
}

SmtpCapabilities ParseEhloCapabilities(std::string_view reply) {
    SmtpCapabilities capabilities;
    bool first = true;
    std::size_t at = 0;
    while (at < reply.size()) {
        const std::size_t end = std::min(reply.find('\n', at), reply.size());
        std::string_view line = reply.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool isReplyLine =
            line.size() > 4 && line.substr(0, 3) == "250" && (line[3] == '-' || line[3] == ' ');
        if (first) {
            first = false;
            continue;
        }
        if (!isReplyLine) continue;
        const std::string_view text = TrimmedView(line.substr(4));
        std::size_t keywordEnd = 0;
        while (keywordEnd < text.size() && text[keywordEnd] != '=' && !Separates(text[keywordEnd]))
            ++keywordEnd;
        const std::string keyword = Upper(text.substr(0, keywordEnd));
        if (keyword == "STARTTLS") {
            capabilities.startTls = true;
        } else if (keyword == "AUTH" && keywordEnd < text.size()) {
            for (const std::string_view word : Words(text.substr(keywordEnd + 1))) {
                const std::string mechanism = Upper(word);
                if (!capabilities.OffersAuth(mechanism))
                    capabilities.authMechanisms.push_back(mechanism);
            }
        }
    }
    return capabilities;
}

} // namespace zelm
