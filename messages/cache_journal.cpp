#include "messages/cache_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/zelm_error.h"
#include "messages/data_file.h"

namespace zelm {

namespace {

constexpr std::string_view kCachedRecord = "cache ";
constexpr std::string_view kDeletedRecord = "dele ";

[[noreturn]] void ThrowJournalError(const std::string& what, const std::string& path, int error) {
    throw ZelmError(what + " the journal \"" + path + "\": " + std::strerror(error));
}

// An id the line layout can carry: one line, and no NUL (a crashed file system may leave a
// run of them at the end of a file).
bool FitsOnALine(std::string_view id) {
    return !id.empty() && id.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

// Takes one line (CR LF or LF stripped) into the records; false when it is no record.
bool TakeRecord(std::string_view line, JournalRecords& records) {
    if (line.starts_with(kCachedRecord)) {
        const auto id = line.substr(kCachedRecord.size());
        if (!FitsOnALine(id)) return false;
        records.cached.emplace_back(id);
        return true;
    }
    if (line.starts_with(kDeletedRecord)) {
        const auto id = line.substr(kDeletedRecord.size());
        if (!FitsOnALine(id)) return false;
        records.deleted.emplace_back(id);
        return true;
    }
    return false;
}

} // namespace

std::string JournalFilePath(const std::string& programDir, const std::string& mailbox) {
    // The same name checks as the data file beside it.
    const std::string dataFile = DataFilePath(programDir, mailbox);
    return dataFile.substr(0, dataFile.size() - 4) + ".jnl";
}

JournalRecords ParseJournal(std::string_view text) {
    JournalRecords records;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos) {
            // A line without its line end was cut off while it was written: its id may be
            // incomplete, so it is no record.
            ++records.damagedLines;
            break;
        }
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!TakeRecord(line, records)) ++records.damagedLines;
        start = end + 1;
    }
    return records;
}

std::optional<JournalRecords> ReadJournal(const std::string& path) {
    const std::optional<std::string> content = ReadFileIfExists(path);
    if (!content) return std::nullopt;
    return ParseJournal(*content);
}

void RewriteJournal(const std::string& path, const std::vector<std::string>& deleted) {
    if (deleted.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            ThrowJournalError("Cannot remove", path, errno);
        }
        return;
    }
    std::vector<std::string> lines;
    lines.reserve(deleted.size());
    for (const auto& id : deleted)
        lines.push_back(std::string(kDeletedRecord) + id);
    WriteTextLines(path, lines);
}

void JournalWriter::Start(std::string path) {
    Stop();
    m_path = std::move(path);
}

void JournalWriter::Stop() {
    m_fd.reset();
    m_path.clear();
}

void JournalWriter::RecordCached(const std::string& id) {
    Append(kCachedRecord, id);
}

void JournalWriter::RecordDeletion(const std::string& id) {
    Append(kDeletedRecord, id);
}

void JournalWriter::Append(std::string_view kind, const std::string& id) {
    // Such an id could not be read back as it was; the data file keeps it from the mailbox's
    // end on, as it always did.
    if (m_path.empty() || !FitsOnALine(id)) return;
    if (!m_fd) {
        const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) ThrowJournalError("Cannot open", m_path, errno);
        m_fd.emplace(fd);
    }
    std::string record;
    record.reserve(kind.size() + id.size() + 2);
    record += kind;
    record += id;
    record += "\r\n";
    // One write, so a killed process leaves the record whole or not at all; the page cache
    // keeps it from then on, whatever happens to the process.
    WriteAll(m_fd->Get(), record, m_path);
}

} // namespace zelm
