#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/config_store.h"
#include "core/string_helpers.h"

namespace zelm {
namespace {

constexpr const char* SystemMimeTypes = "/etc/mime.types";
constexpr const char* UnknownType = "application/octet-stream";

// Common attachment types for a machine without /etc/mime.types.
struct BuiltInType {
    const char* extension;
    const char* type;
};
constexpr BuiltInType BuiltInTypes[] = {
    {"txt", "text/plain"},      {"htm", "text/html"},          {"html", "text/html"},
    {"csv", "text/csv"},        {"xml", "application/xml"},    {"rtf", "application/rtf"},
    {"pdf", "application/pdf"}, {"zip", "application/zip"},    {"gz", "application/gzip"},
    {"jpg", "image/jpeg"},      {"jpeg", "image/jpeg"},        {"gif", "image/gif"},
    {"png", "image/png"},       {"bmp", "image/bmp"},          {"tif", "image/tiff"},
    {"tiff", "image/tiff"},     {"eml", "message/rfc822"},     {"wav", "audio/x-wav"},
    {"mp3", "audio/mpeg"},      {"doc", "application/msword"}, {"xls", "application/vnd.ms-excel"},
};

/// The whole file, or "" when it cannot be read.
std::string ReadFileQuietly(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return content;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

/// The type that a mime.types text gives the (lower-case) extension, or "".
std::string FindInMimeTypes(const std::string& table, const std::string& extension) {
    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t end = table.find('\n', start);
        if (end == std::string::npos) end = table.size();
        std::size_t pos = start;
        start = end + 1;
        while (pos < end && IsBlank(table[pos]))
            ++pos;
        if (pos == end || table[pos] == '#') continue;
        std::size_t typeEnd = pos;
        while (typeEnd < end && !IsBlank(table[typeEnd]))
            ++typeEnd;
        const std::string type = table.substr(pos, typeEnd - pos);
        pos = typeEnd;
        while (pos < end) {
            while (pos < end && IsBlank(table[pos]))
                ++pos;
            std::size_t wordEnd = pos;
            while (wordEnd < end && !IsBlank(table[wordEnd]))
                ++wordEnd;
            if (wordEnd > pos && LowerAscii(table.substr(pos, wordEnd - pos)) == extension)
                return type;
            pos = wordEnd;
        }
    }
    return {};
}

} // namespace

std::string LookupContentTypeIn(const std::string& fileName, const std::string& mimeTypesPath) {
    // The extension counts only when its dot stands in the last part of the name; stored
    // Windows paths use "\" and ":" as separators as well as "/".
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return UnknownType;
    const std::size_t separator = fileName.find_last_of("/\\:");
    if (separator != std::string::npos && separator > dot) return UnknownType;
    const std::string extension = LowerAscii(fileName.substr(dot + 1));
    if (extension.empty()) return UnknownType;

    const std::string systemType = FindInMimeTypes(ReadFileQuietly(mimeTypesPath), extension);
    if (!systemType.empty()) return systemType;
    for (const auto& entry : BuiltInTypes) {
        if (extension == entry.extension) return entry.type;
    }
    return UnknownType;
}

std::string LookupContentType(const std::string& fileName) {
    return LookupContentTypeIn(fileName, SystemMimeTypes);
}

} // namespace zelm
