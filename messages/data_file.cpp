#include "messages/data_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <random>

#include "core/string_helpers.h"
#include "core/unique_fd.h"
#include "core/zelm_error.h"

namespace zelm {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSectionEnd = "####";

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int error) {
    throw ZelmError(what + " \"" + path + "\": " + std::strerror(error));
}

std::string ReadFileOrThrow(const std::string& path) {
    auto content = ReadFileIfExists(path);
    if (!content) ThrowFileError("Cannot open", path, ENOENT);
    return std::move(*content);
}

// Opens a file for reading; -1 when it does not exist.
int OpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) ThrowFileError("Cannot open", path, errno);
    return fd;
}

constexpr std::size_t kChunkSize = 64 * 1024;

// Reads a file line by line through one buffer of bounded size, so a large data file is never
// held whole. A line ends at LF; a CR right before it belongs to the break. A last line
// without a break is still a line. A line stays valid until the next call.
class LineReader {
public:
    LineReader(int fd, const std::string& path) : m_fd(fd), m_path(path) {}

    bool Next(std::string_view& line) {
        for (;;) {
            const auto newline = m_buffer.find('\n', m_scanned);
            if (newline != std::string::npos) {
                line = std::string_view(m_buffer).substr(m_begin, newline - m_begin);
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                m_begin = m_scanned = newline + 1;
                return true;
            }
            // Bytes already searched are not searched again when more arrive.
            m_scanned = m_buffer.size();
            if (m_eof || !Fill()) {
                if (m_begin >= m_buffer.size()) return false;
                line = std::string_view(m_buffer).substr(m_begin);
                m_begin = m_scanned = m_buffer.size();
                return true;
            }
        }
    }

    bool AtEnd() {
        while (m_begin >= m_buffer.size()) {
            if (m_eof || !Fill()) return true;
        }
        return false;
    }

private:
    // Drops the lines already handed out and appends the next chunk; false at the end.
    bool Fill() {
        m_buffer.erase(0, m_begin);
        m_scanned -= m_begin;
        m_begin = 0;
        const std::size_t had = m_buffer.size();
        m_buffer.resize(had + kChunkSize);
        for (;;) {
            const auto got = ::read(m_fd, m_buffer.data() + had, kChunkSize);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) ThrowFileError("Cannot read", m_path, errno);
            m_buffer.resize(had + static_cast<std::size_t>(got));
            if (got == 0) m_eof = true;
            return got > 0;
        }
    }

    int m_fd;
    const std::string& m_path;
    std::string m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_scanned = 0;
    bool m_eof = false;
};

// Collects output in chunks, so a rewrite costs few system calls and little memory.
class BufferedWriter {
public:
    BufferedWriter(int fd, const std::string& path) : m_fd(fd), m_path(path) {
        m_buffer.reserve(kChunkSize);
    }

    void Write(std::string_view text) {
        if (m_buffer.size() + text.size() > kChunkSize) Flush();
        if (text.size() >= kChunkSize) {
            WriteAll(m_fd, text, m_path);
        } else {
            m_buffer += text;
        }
    }
    void Flush() {
        WriteAll(m_fd, m_buffer, m_path);
        m_buffer.clear();
    }

private:
    int m_fd;
    const std::string& m_path;
    std::string m_buffer;
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes a finished rename durable. Some file systems refuse fsync on a folder; the rename has
// happened either way, so that refusal is no failure of the write.
void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0) ::fsync(fd.Get());
}

// Renames from to to, never replacing another file; false when to is taken.
bool MoveToFreeName(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) ThrowFileError("Cannot store", to, errno);
    // File systems without the flag: a hard link fails just the same on a taken name.
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return false;
        ThrowFileError("Cannot store", to, errno);
    }
    ::unlink(from.c_str());
    return true;
}

// The new content of a file, written beside it under the transient name and renamed over it
// once flushed to disk: a crash at any moment leaves the old file or the new one, whole.
// Until then the destructor removes it.
class TempFile {
public:
    // A stale temporary (or anything planted under its name) is removed first, and O_EXCL
    // makes sure the write never follows a link.
    TempFile(const std::string& folder, mode_t mode)
        : m_folder(folder), m_path(folder + std::string(kDataFileTempName)) {
        if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
            ThrowFileError("Cannot remove", m_path, errno);
        }
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (m_fd < 0) ThrowFileError("Cannot create", m_path, errno);
        m_created = true;
        // The creation mode passed the umask; an existing file's mode is kept exactly.
        if (mode != 0666 && ::fchmod(m_fd, mode) != 0)
            ThrowFileError("Cannot write", m_path, errno);
    }
    ~TempFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (m_created) ::unlink(m_path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }

    /// Flushes the content to disk and renames the file over target.
    void ReplaceTarget(const std::string& target) {
        FlushAndClose();
        if (::rename(m_path.c_str(), target.c_str()) != 0) {
            ThrowFileError("Cannot replace", target, errno);
        }
        m_created = false;
        SyncFolder(m_folder);
    }

    /// Flushes the content to disk and gives it the name target only when no file has that
    /// name, so an existing file is never replaced; false when the name is taken.
    bool TakeFreeName(const std::string& target) {
        FlushAndClose();
        if (!MoveToFreeName(m_path, target)) return false;
        m_created = false;
        SyncFolder(m_folder);
        return true;
    }

private:
    void FlushAndClose() {
        if (m_fd < 0) return;
        if (::fsync(m_fd) != 0) ThrowFileError("Cannot flush", m_path, errno);
        const int result = ::close(m_fd);
        m_fd = -1;
        if (result != 0) ThrowFileError("Cannot write", m_path, errno);
    }

    std::string m_folder;
    std::string m_path;
    int m_fd = -1;
    bool m_created = false;
};

// Replaces path with content in one step.
void ReplaceFile(const std::string& path, std::string_view content) {
    mode_t mode = 0666;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) mode = info.st_mode & 07777;
    TempFile temp(FolderOf(path), mode);
    WriteAll(temp.fd(), content, temp.path());
    temp.ReplaceTarget(path);
}

// A header is any line that begins, ignoring the case of A to Z, with "[" name "]"; what
// follows the "]" does not matter.
bool IsSectionHeader(std::string_view line, std::string_view name) {
    if (line.size() < name.size() + 2 || line.front() != '[' || line[name.size() + 1] != ']') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (LowerAsciiChar(line[i + 1]) != LowerAsciiChar(name[i])) return false;
    }
    return true;
}

void AppendLine(std::string& out, std::string_view line) {
    out += line;
    out += kCrLf;
}

template <typename Out>
void WriteLine(Out& out, std::string_view line) {
    out.Write(line);
    out.Write(kCrLf);
}

// The section as written after its header: its lines each followed by CR LF, the empty line
// and "####". A line that is itself "####" cannot be kept: it would end the section there, lose
// every line after it and leave them outside any section at the next rewrite (a server may
// even send it as a message id), so it is left out.
template <typename Out>
void WriteSectionBody(Out& out, const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        if (line == kSectionEnd) continue;
        WriteLine(out, line);
    }
    out.Write(kCrLf);
    WriteLine(out, kSectionEnd);
}

template <typename Out>
void WriteSectionHeader(Out& out, std::string_view name) {
    out.Write("[");
    out.Write(name);
    out.Write("]");
    out.Write(kCrLf);
}

// Collects what is written, for a file composed in memory before it is compared or written.
struct TextWriter {
    std::string text;
    void Write(std::string_view part) { text += part; }
};

// The file behind fd holds exactly text.
bool FileHolds(int fd, std::string_view text, const std::string& path) {
    std::string held(text.size(), '\0');
    std::size_t done = 0;
    while (done < held.size()) {
        const ssize_t got =
            ::pread(fd, held.data() + done, held.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ThrowFileError("Cannot read", path, errno);
        if (got == 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return held == text;
}

// Collects the lines of the named section; false when there is no section: no header, or a
// header that ends the file.
bool CollectSection(const std::string& path, std::string_view name,
                    std::vector<std::string>& lines) {
    UniqueFd fd(OpenForReading(path));
    if (fd.Get() < 0) return false;
    LineReader reader(fd.Get(), path);
    std::string_view line;
    bool found = false;
    while (!found && reader.Next(line))
        found = IsSectionHeader(line, name);
    if (!found || reader.AtEnd()) return false;
    while (reader.Next(line) && line != kSectionEnd)
        lines.emplace_back(line);
    return true;
}

std::string ZeroPadded5(int number) {
    char text[8];
    std::snprintf(text, sizeof text, "%05d", number);
    return text;
}

void CheckFileName(const std::string& name, std::string_view what) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        throw ZelmError(std::string(what) + " \"" + name + "\" cannot be used as a file name");
    }
}

bool EndsWithDatNoCase(std::string_view name) {
    if (name.size() < 4) return false;
    const auto suffix = name.substr(name.size() - 4);
    return suffix[0] == '.' && LowerAsciiChar(suffix[1]) == 'd' &&
           LowerAsciiChar(suffix[2]) == 'a' && LowerAsciiChar(suffix[3]) == 't';
}

bool IsWholeNumber(const std::string& text) {
    // TextToIntDef is the shared conversion; two different defaults tell "not a number" apart
    // from a number equal to the default.
    return TextToIntDef(text, 0) != 0 || TextToIntDef(text, 1) != 1;
}

// Outbox names: eight characters from the digits and "A" to "Y", then ".dat".
std::string RandomOutboxName(std::mt19937& random) {
    static constexpr std::string_view kAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXY";
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string name;
    for (int i = 0; i < 8; ++i)
        name += kAlphabet[pick(random)];
    return name + ".dat";
}

} // namespace

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const auto written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot write", path, errno);
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<std::string> ReadFileIfExists(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowFileError("Cannot open", path, errno);
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const auto got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot read", path, errno);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

std::string DataFilePath(const std::string& programDir, const std::string& mailbox) {
    CheckFileName(mailbox, "Mailbox name");
    return programDir + mailbox + ".dat";
}

std::string ReadSection(const std::string& path, std::string_view name) {
    std::vector<std::string> lines;
    if (!CollectSection(path, name, lines)) return std::string();
    // Each line followed by CR LF, without the last CR LF.
    std::string text;
    for (const auto& line : lines)
        AppendLine(text, line);
    if (text.size() >= 2) text.resize(text.size() - 2);
    return text;
}

std::vector<std::string> ReadSectionLines(const std::string& path, std::string_view name) {
    std::vector<std::string> lines;
    if (!CollectSection(path, name, lines)) return lines;
    // The empty line the writer puts before "####" is no line of the section; a truncated
    // section without it keeps all its lines.
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

void WriteSection(const std::string& path, std::string_view name,
                  const std::vector<std::string>& lines) {
    UniqueFd in(OpenForReading(path));
    mode_t mode = 0666;
    struct stat info {};
    const bool stored = in.Get() >= 0 && ::fstat(in.Get(), &info) == 0;
    if (stored) mode = info.st_mode & 07777;
    // Composed in memory first: a file that would come out as it is (a session that learnt no
    // new id) is left alone rather than rewritten and synced to disk twice.
    TextWriter out;

    if (in.Get() < 0) {
        WriteSectionHeader(out, name);
        WriteSectionBody(out, lines);
    } else {
        // Lines are copied as lines, each ending in CR LF.
        LineReader reader(in.Get(), path);
        std::string_view line;
        bool found = false;
        while (!found && reader.Next(line)) {
            WriteLine(out, line);
            found = IsSectionHeader(line, name);
        }
        if (found) {
            // Also for a header that ends a truncated file: the section goes right after it,
            // so the file never holds a second header for the same section.
            WriteSectionBody(out, lines);
            while (reader.Next(line) && line != kSectionEnd) {
            }
            while (reader.Next(line))
                WriteLine(out, line);
        } else {
            // A new section at the end, after an empty line; a last line without a break
            // has been given one by the copy.
            out.Write(kCrLf);
            WriteSectionHeader(out, name);
            WriteSectionBody(out, lines);
        }
    }
    if (stored && static_cast<std::size_t>(info.st_size) == out.text.size() &&
        FileHolds(in.Get(), out.text, path)) {
        return;
    }
    TempFile temp(FolderOf(path), mode);
    WriteAll(temp.fd(), out.text, temp.path());
    temp.ReplaceTarget(path);
}

std::vector<std::string> ReadTextLines(const std::string& path) {
    UniqueFd fd(OpenForReading(path));
    if (fd.Get() < 0) ThrowFileError("Cannot open", path, ENOENT);
    LineReader reader(fd.Get(), path);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.Next(line))
        lines.emplace_back(line);
    return lines;
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    ReplaceFile(path, JoinListValue(lines));
}

void AppendTextLines(const std::string& path, const std::vector<std::string>& lines) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (fd.Get() < 0) ThrowFileError("Cannot open", path, errno);
    // One write for all lines, so lines appended by one action stay together.
    WriteAll(fd.Get(), JoinListValue(lines), path);
    if (fd.Close() != 0) ThrowFileError("Cannot write", path, errno);
}

std::string NewTemplateName(const std::string& programDir, TemplateKind kind) {
    const char prefix = kind == TemplateKind::Message ? 'm' : 'd';
    // An action line keeps six characters of the name: five digits at most.
    for (int number = 1; number <= 99999; ++number) {
        std::string name = prefix + ZeroPadded5(number) + ".dat";
        struct stat info {};
        const std::string path = programDir + name;
        if (::lstat(path.c_str(), &info) == 0) continue;
        if (errno == ENOENT) return name;
        ThrowFileError("Cannot look at", path, errno);
    }
    throw ZelmError(std::string("No free template name: all 99999 \"") + prefix +
                    "\" templates exist in \"" + programDir + "\"");
}

std::string TemplatePathFromActionLine(const std::string& programDir, const std::string& line) {
    const std::string id = RightStr(line, 6);
    if (id.size() != 6 || id.find('/') != std::string::npos || id.find('\0') != std::string::npos) {
        throw ZelmError("The action line \"" + line + "\" names no template file");
    }
    return programDir + id + ".dat";
}

void DeleteTemplateFile(const std::string& programDir, const std::string& id) {
    const bool templateId =
        id.size() == 6 && (id[0] == 'm' || id[0] == 'd') &&
        std::all_of(id.begin() + 1, id.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!templateId) return;
    const std::string path = programDir + id + ".dat";
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        ThrowFileError("Cannot delete", path, errno);
}

std::string ResolveInProgramDir(const std::string& programDir, const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    return programDir + path;
}

std::vector<std::string> MessageTemplateLines(const MessageTemplate& message) {
    std::vector<std::string> lines;
    lines.reserve(message.body.size() + 5);
    lines.push_back("From: " + message.from);
    lines.push_back("Subject: " + message.subject);
    lines.push_back("To: " + message.to);
    lines.push_back("Cc: " + message.cc);
    lines.emplace_back();
    lines.insert(lines.end(), message.body.begin(), message.body.end());
    return lines;
}

MessageTemplate ParseMessageTemplate(const std::vector<std::string>& lines) {
    // The fields are the lines without their prefixes' lengths, as the dialog reads them.
    auto field = [&](std::size_t index, std::size_t prefixLength) {
        if (index >= lines.size() || lines[index].size() <= prefixLength) return std::string();
        return lines[index].substr(prefixLength);
    };
    MessageTemplate message;
    message.from = field(0, 6);
    message.subject = field(1, 9);
    message.to = field(2, 4);
    message.cc = field(3, 4);
    // As for composition, the body begins after the first empty line; without one it is empty.
    const auto empty = std::find(lines.begin(), lines.end(), std::string());
    if (empty != lines.end()) message.body.assign(empty + 1, lines.end());
    return message;
}

std::vector<std::string> SaveDataTemplateLines(const SaveDataTemplate& saveData) {
    std::vector<std::string> lines;
    lines.reserve(saveData.lines.size() + 1);
    lines.push_back(saveData.outputPath);
    lines.insert(lines.end(), saveData.lines.begin(), saveData.lines.end());
    return lines;
}

SaveDataTemplate ReadSaveDataTemplate(const std::string& path) {
    auto lines = ReadTextLines(path);
    if (lines.empty() || Trim(lines.front()).empty()) {
        throw ZelmError("The save-data template \"" + path + "\" names no output file");
    }
    SaveDataTemplate saveData;
    saveData.outputPath = std::move(lines.front());
    saveData.lines.assign(std::make_move_iterator(lines.begin() + 1),
                          std::make_move_iterator(lines.end()));
    return saveData;
}

std::string WriteRejectReplyTemplate(const std::string& programDir,
                                     const std::vector<std::string>& rejectText,
                                     const std::string& returnPath) {
    std::vector<std::string> lines = rejectText;
    // The address comes from the rejected message: a line break in it must not become a
    // header line of its own in the reply.
    std::string to = "To: " + returnPath;
    std::replace_if(
        to.begin(), to.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    lines.insert(lines.begin() +
                     static_cast<std::ptrdiff_t>(std::min<std::size_t>(2, lines.size())),
                 std::move(to));
    const std::string path = programDir + std::string(kRejectReplyFileName);
    WriteTextLines(path, lines);
    return path;
}

std::string OutboxFolder(const std::string& programDir, const std::string& mailbox) {
    CheckFileName(mailbox, "Mailbox name");
    return programDir + mailbox;
}

void EnsureOutboxFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) == 0) return;
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
    ThrowFileError("Cannot create the outbox folder", folder, error);
}

std::vector<std::string> ListOutboxFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str()); // glibc opens it close-on-exec
    if (dir == nullptr) {
        if (errno == ENOENT) return names;
        ThrowFileError("Cannot list the outbox folder", folder, errno);
    }
    const std::string prefix = folder + "/";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!EndsWithDatNoCase(name)) continue;
        struct stat info {};
        if (::stat((prefix + std::string(name)).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (auto& name : names)
        name.insert(0, prefix);
    return names;
}

namespace {

// Streamed through the writer's buffer: a large message is never copied into one text.
void WriteOutboxContent(BufferedWriter& out, const OutboxEntry& message) {
    out.Write(std::to_string(message.attempts));
    out.Write(kCrLf);
    for (const auto& recipient : message.recipients) {
        // An empty entry would read back as the end of the recipients, and a line break would
        // split the file's layout; neither is a deliverable address.
        if (Trim(recipient).empty() || recipient.find_first_of("\r\n") != std::string::npos) {
            continue;
        }
        WriteLine(out, recipient);
    }
    out.Write(kCrLf);
    message.lines.ForEach([&out](std::string_view line) { WriteLine(out, line); });
    // The final line end that readers drop again.
    out.Write(kCrLf);
    out.Flush();
}

// Draws outbox names in the folder (its path ending with '/') until place succeeds with one.
std::string UnderFreeOutboxName(const std::string& folder,
                                const std::function<bool(const std::string&)>& place) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string path = folder + RandomOutboxName(random);
        if (place(path)) return path;
    }
    throw ZelmError("No free outbox file name in \"" + folder + "\"");
}

} // namespace

std::string WriteOutboxMessage(const std::string& folder, const OutboxEntry& message) {
    const std::string prefix = folder + "/";
    TempFile temp(prefix, 0666);
    BufferedWriter out(temp.fd(), temp.path());
    WriteOutboxContent(out, message);
    return UnderFreeOutboxName(
        prefix, [&temp](const std::string& path) { return temp.TakeFreeName(path); });
}

std::string ReplaceOutboxMessage(const std::string& path, const OutboxEntry& message) {
    const std::string folder = FolderOf(path);
    TempFile temp(folder, 0666);
    BufferedWriter out(temp.fd(), temp.path());
    WriteOutboxContent(out, message);
    temp.ReplaceTarget(path);
    const std::string moved = UnderFreeOutboxName(
        folder, [&path](const std::string& target) { return MoveToFreeName(path, target); });
    SyncFolder(folder);
    return moved;
}

OutboxMessage ReadOutboxMessage(const std::string& path) {
    const std::string content = ReadFileOrThrow(path);
    // Only CR LF ends a line here: the writer put it there, and a lone CR or LF inside a
    // message line must come back unchanged.
    auto lines = Split(content, std::string(kCrLf)).pieces;
    if (!lines.empty() && lines.back().empty()) lines.pop_back();

    OutboxMessage message;
    const std::string first = lines.empty() ? std::string() : lines.front();
    if (!IsWholeNumber(first)) {
        throw ZelmError("The outbox file \"" + path +
                        "\" does not begin with an attempt count (\"" + first + "\")");
    }
    message.attempts = TextToIntDef(first, 0);
    std::size_t index = 1;
    while (index < lines.size() && !Trim(lines[index]).empty()) {
        message.recipients.push_back(std::move(lines[index]));
        ++index;
    }
    if (index >= lines.size()) {
        throw ZelmError("The outbox file \"" + path + "\" has no empty line after its recipients");
    }
    message.lines.assign(
        std::make_move_iterator(lines.begin() + static_cast<std::ptrdiff_t>(index) + 1),
        std::make_move_iterator(lines.end()));
    // The writer ends the text with one more line end; without dropping it, every retry would
    // add an empty line to the message.
    if (!message.lines.empty() && message.lines.back().empty()) message.lines.pop_back();
    return message;
}

} // namespace zelm
