#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"

// A mailbox's journal: what a session has done since the mailbox's "Cache" section was last
// written, one record per line, appended as it happens. A session killed at any moment leaves
// it behind, and the next visit of the mailbox takes the records up, so neither a processed
// message nor a deletion the server has not committed yet is forgotten. Records are lines
// ending in CR LF: "cache " + id for a message whose processing finished, "dele " + id for a
// message whose DELE was sent.
namespace zelm {

/// The journal beside a mailbox's data file: programDir + mailbox + ".jnl" (checked as for
/// DataFilePath).
std::string JournalFilePath(const std::string& programDir, const std::string& mailbox);

/// The records of a journal, each kind in file order.
struct JournalRecords {
    /// Ids of the messages whose processing finished.
    std::vector<std::string> cached;
    /// Ids of the messages whose DELE was sent; the server deletes them only at a QUIT.
    std::vector<std::string> deleted;
    /// Lines that are no record: garbled, or cut off by a crash in the middle of a write.
    int damagedLines = 0;
};

/// The records of a journal's bytes; what is no record is counted as damaged.
JournalRecords ParseJournal(std::string_view text);
/// Reads a journal; nullopt when there is none. Throws ZelmError when it cannot be read.
std::optional<JournalRecords> ReadJournal(const std::string& path);

/// Replaces the journal by one "dele" record per id, through a flushed temporary file, or
/// removes it when there are none.
void RewriteJournal(const std::string& path, const std::vector<std::string>& deleted);

/// The journal of the mailbox being processed. The file is created at the first record; each
/// record is one write, so it is in the file before the next step of the session begins.
class JournalWriter {
public:
    /// Records go to path from now on (nothing is opened yet).
    void Start(std::string path);
    /// Closes the file; records are refused until the next Start.
    void Stop();

    /// The message's processing has finished.
    void RecordCached(const std::string& id);
    /// DELE is about to be sent for the message.
    void RecordDeletion(const std::string& id);

private:
    void Append(std::string_view kind, const std::string& id);

    std::string m_path;
    std::optional<UniqueFd> m_fd;
};

} // namespace zelm
