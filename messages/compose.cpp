#include "messages/compose.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_store.h"
#include "core/program_info.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"
#include "messages/data_file.h"

namespace zelm {

namespace {

constexpr const char* DayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr char Base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
/// Bytes per full base64 line of 76 characters.
constexpr std::size_t BytesPerLine = 57;
/// Read size of the attachment encoder: whole lines only, so only the last line is short.
constexpr std::size_t EncodeBlockLines = 16384;

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

std::string TwoDigits(int value) {
    std::string text(2, '0');
    text[0] = static_cast<char>('0' + (value / 10) % 10);
    text[1] = static_cast<char>('0' + value % 10);
    return text;
}

/// "yyyymmddhhmmss" of the moment in local time, for the "Message-Id".
std::string CompactStamp(std::time_t moment) {
    const std::tm local = LocalTime(moment);
    return std::to_string(local.tm_year + 1900) + TwoDigits(local.tm_mon + 1) +
           TwoDigits(local.tm_mday) + TwoDigits(local.tm_hour) + TwoDigits(local.tm_min) +
           TwoDigits(local.tm_sec);
}

/// The lines a substituted text stands for: split at CR, LF or CR LF, a final break adds no
/// line, and an empty text is one empty line.
std::vector<std::string> SplitSubstituted(const std::string& text) {
    std::vector<std::string> lines = SplitListValue(text);
    if (lines.empty()) lines.emplace_back();
    return lines;
}

/// A header line whose value brought line breaks (a multi-line variable) stays one header
/// field: its further lines are folded, and blank ones dropped, also before its first line of
/// text, so no value can end the header early or add a header line of its own.
void AddHeaderLines(OutgoingMessage& message, const std::string& substituted) {
    bool first = true;
    for (const std::string& line : SplitSubstituted(substituted)) {
        if (Trim(line).empty()) continue;
        if (first || line[0] == ' ' || line[0] == '\t')
            message.push_back(line);
        else
            message.push_back(" " + line);
        first = false;
    }
}

void AddBodyLines(OutgoingMessage& message, const std::string& substituted) {
    for (auto& line : SplitSubstituted(substituted))
        message.push_back(std::move(line));
}

/// A file name as a quoted-string: a double quote or backslash in it is escaped, so the
/// header parameter ends where it should.
std::string QuotedFileName(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

/// Clears status panel 2 when an encoding ends, also by an error.
class EncodingPanel {
public:
    explicit EncodingPanel(EngineUi& ui) : m_ui(ui) { m_ui.SetStatusPanel(2, "Encoding"); }
    ~EncodingPanel() { m_ui.SetStatusPanel(2, ""); }
    EncodingPanel(const EncodingPanel&) = delete;
    EncodingPanel& operator=(const EncodingPanel&) = delete;

private:
    EngineUi& m_ui;
};

/// Encodes bytes as one base64 line with "=" padding (attachments give it 57 at a time).
std::string EncodeLine(const unsigned char* bytes, std::size_t count) {
    std::string line((count + 2) / 3 * 4, '=');
    std::size_t out = 0;
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        const unsigned group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        line[out++] = Base64Alphabet[(group >> 18) & 63];
        line[out++] = Base64Alphabet[(group >> 12) & 63];
        line[out++] = Base64Alphabet[(group >> 6) & 63];
        line[out++] = Base64Alphabet[group & 63];
    }
    if (i < count) {
        const unsigned group = (bytes[i] << 16) | (i + 1 < count ? bytes[i + 1] << 8 : 0);
        line[out++] = Base64Alphabet[(group >> 18) & 63];
        line[out++] = Base64Alphabet[(group >> 12) & 63];
        if (i + 1 < count) line[out] = Base64Alphabet[(group >> 6) & 63];
    }
    return line;
}

} // namespace

std::string FormatDateStamp(std::time_t moment) {
    const std::tm local = LocalTime(moment);
    return std::string(DayNames[local.tm_wday]) + ", " + TwoDigits(local.tm_mday) + " " +
           MonthNames[local.tm_mon] + " " + TwoDigits(local.tm_year % 100);
}

std::string FormatTimeStamp(std::time_t moment) {
    const std::tm local = LocalTime(moment);
    return TwoDigits(local.tm_hour) + ":" + TwoDigits(local.tm_min) + ":" + TwoDigits(local.tm_sec);
}

std::string FormatRfc822Date(std::time_t moment) {
    const std::tm local = LocalTime(moment);
    std::string text = std::string(DayNames[local.tm_wday]) + ", " + std::to_string(local.tm_mday) +
                       " " + MonthNames[local.tm_mon] + " " + std::to_string(local.tm_year + 1900) +
                       " " + FormatTimeStamp(moment) + " ";
    const long offsetMinutes = local.tm_gmtoff / 60;
    if (offsetMinutes == 0) return text + "GMT";
    const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    text += offsetMinutes < 0 ? '-' : '+';
    return text + TwoDigits(static_cast<int>(magnitude / 60)) +
           TwoDigits(static_cast<int>(magnitude % 60));
}

std::string SubstitutePlaceholders(const std::string& line, const MessageVariables& variables,
                                   std::time_t now) {
    // Built by appending, so a value is never scanned and many placeholders stay linear; the
    // position of the next "}" is kept, so unclosed braces do not rescan the rest either.
    // A name longer than every known name cannot match, so it is never copied out.
    std::size_t longestName = 9;
    for (const auto& name : variables.names)
        longestName = std::max(longestName, name.size());
    std::string result;
    std::size_t copied = 0;
    const auto isBlank = [&line](std::size_t at) {
        return static_cast<unsigned char>(line[at]) <= 32;
    };
    // The end of the name before the current "}", its trailing blanks removed; found once per
    // "}", since many "{" may share it.
    const auto trimmedEnd = [&](std::size_t at) {
        while (at != std::string::npos && at > 0 && isBlank(at - 1))
            --at;
        return at;
    };
    std::size_t open = line.find('{');
    std::size_t close = line.find('}');
    std::size_t nameEnd = trimmedEnd(close);
    while (open != std::string::npos) {
        if (close != std::string::npos && close < open) {
            close = line.find('}', open);
            nameEnd = trimmedEnd(close);
        }
        std::string value;
        std::size_t first = open + 1;
        if (close != std::string::npos) {
            while (first < close && isBlank(first))
                ++first;
        }
        const std::size_t last = std::max(first, nameEnd);
        if (close != std::string::npos && last - first <= longestName) {
            const std::string name = line.substr(first, last - first);
            if (EqualsNoCase(name, "datestamp"))
                value = FormatDateStamp(now);
            else if (EqualsNoCase(name, "timestamp"))
                value = FormatTimeStamp(now);
            else if (const auto found = variables.Lookup(name))
                value = *found;
        }
        if (value.empty()) {
            open = line.find('{', open + 1);
            continue;
        }
        result.append(line, copied, open - copied);
        result += value;
        copied = close + 1;
        open = line.find('{', copied);
    }
    result.append(line, copied, std::string::npos);
    return result;
}

std::string SubstitutePlaceholders(const std::string& line, const MessageVariables& variables) {
    return SubstitutePlaceholders(line, variables, std::time(nullptr));
}

std::string EncodeBase64(std::string_view bytes) {
    return EncodeLine(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void EncodeFileBase64(const std::string& path, std::vector<std::string>& lines) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ZelmError("Cannot open attachment " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 0)
        lines.reserve(lines.size() + static_cast<std::size_t>(info.st_size) / BytesPerLine + 1);
    std::vector<unsigned char> block(BytesPerLine * EncodeBlockLines);
    for (;;) {
        // Fill the block completely (or to the end of the file), so every line but the very
        // last is a full one whatever the reads return.
        std::size_t filled = 0;
        while (filled < block.size()) {
            const ssize_t got = read(fd, block.data() + filled, block.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                const int error = errno;
                close(fd);
                throw ZelmError("Cannot read attachment " + path + ": " + std::strerror(error));
            }
            if (got == 0) break;
            filled += static_cast<std::size_t>(got);
        }
        for (std::size_t at = 0; at < filled; at += BytesPerLine)
            lines.push_back(EncodeLine(block.data() + at, std::min(BytesPerLine, filled - at)));
        if (filled < block.size()) break;
    }
    close(fd);
}

std::string AttachmentFileName(const std::string& path) {
    std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

OutgoingMessage ComposeMessage(const std::string& templatePath, const ComposeInputs& inputs,
                               MessageState& state, EngineUi& ui) {
    const std::vector<std::string> templateLines = ReadTextLines(templatePath);
    const MessageVariables& variables = state.messageVariables;
    std::size_t next = 0;
    // A read past the end of the template gives an empty line, as the layout expects.
    const auto readLine = [&]() -> std::string {
        return next < templateLines.size() ? templateLines[next++] : std::string();
    };
    const auto atEnd = [&] { return next >= templateLines.size(); };

    OutgoingMessage message;
    std::string recipientText;
    message.push_back("Date: " + FormatRfc822Date(inputs.now));

    while (!atEnd()) {
        const std::string line = readLine();
        if (line.empty()) break;
        const std::string start = LowerAscii(line.substr(0, 3));
        if (start == "to:" || (start == "cc:" && Trim(line).size() > 3)) {
            // The recipients are collected as written: references are resolved by
            // ExpandRecipients to bare addresses, not by the placeholder substitution.
            if (!recipientText.empty()) recipientText += ",";
            if (line.size() > 4) recipientText += line.substr(4);
        }
        AddHeaderLines(message, SubstitutePlaceholders(line, variables, inputs.now));
    }

    message.push_back("Message-Id: <zelm-" + inputs.userId + std::to_string(inputs.messageNumber) +
                      "-" + CompactStamp(inputs.now) + "@" + inputs.smtpHost + ">");
    message.push_back("X-Mailer: " + ProgramCaption());

    bool hasAttachment = false;
    std::string attachmentPath;
    const std::string firstBodyLine = readLine();
    if (LowerAscii(firstBodyLine).starts_with("attachment")) {
        hasAttachment = true;
        attachmentPath = Trim(firstBodyLine.size() > 11 ? firstBodyLine.substr(11) : "");
        // A relative path lies in the home folder beside the templates, never in whatever
        // folder the program was started from.
        if (!attachmentPath.empty()) {
            attachmentPath = ResolveInProgramDir(
                templatePath.substr(0, templatePath.rfind('/') + 1), attachmentPath);
        }
        message.push_back("MIME-Version: 1.0");
        message.push_back(std::string("Content-Type: multipart/mixed; boundary=\"") + MimeBoundary +
                          "\"");
        message.push_back("Content-Transfer-Encoding: 7bit");
        message.emplace_back();
        message.push_back(std::string("--") + MimeBoundary);
        message.push_back("Content-Type: text/plain; charset=US-ASCII");
        message.push_back("Content-disposition: inline");
        message.emplace_back();
    } else {
        message.emplace_back();
        AddBodyLines(message, SubstitutePlaceholders(firstBodyLine, variables, inputs.now));
    }

    // At least one further line is read, so a template that ends with its first body line
    // gets one empty line after it.
    do {
        AddBodyLines(message, SubstitutePlaceholders(readLine(), variables, inputs.now));
    } while (!atEnd());

    if (hasAttachment) {
        const std::string fileName = QuotedFileName(AttachmentFileName(attachmentPath));
        message.push_back(std::string("--") + MimeBoundary);
        message.push_back("Content-Type: " + LookupContentType(attachmentPath) +
                          "; name=" + fileName);
        message.push_back("Content-Transfer-Encoding: base64");
        message.push_back("Content-disposition: attachment; filename=" + fileName);
        message.emplace_back();
        {
            const EncodingPanel panel(ui);
            EncodeFileBase64(attachmentPath, message);
        }
        message.emplace_back();
        message.push_back(std::string("--") + MimeBoundary + "--");
    }

    ExpandRecipients(recipientText, state);
    return message;
}

void AddLastHeaderLine(OutgoingMessage& message, const std::string& line) {
    const auto end = std::find(message.begin(), message.end(), std::string());
    message.insert(end, line);
}

} // namespace zelm
