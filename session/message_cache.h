#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace zelm {

/// A mailbox's memory of processed message ids, oldest first, as kept in the data file's
/// "Cache" section. Beside the ordered list an index answers lookups without regard to case
/// in constant time, so a large cache costs no scan per message.
class MessageCache {
public:
    /// Replaces the contents with ids in file order (duplicates kept as stored).
    void Assign(const std::vector<std::string>& ids);
    /// An entry equals id without regard to case (A to Z only).
    bool Contains(const std::string& id) const;
    /// Appends id at the end (the newest entry).
    void Append(const std::string& id);
    /// Removes the oldest entries while more than limit remain; a limit of 0 or less empties it.
    void Trim(long limit);
    /// The ids, oldest first, as the data file keeps them.
    std::vector<std::string> Lines() const;
    /// Number of entries.
    std::size_t Size() const { return m_entries.size(); }
    /// Removes every entry.
    void Clear();

private:
    // Hashes and compares ids as their lower-cased forms would, without making them: every
    // message of a session asks the index several times.
    struct NoCaseHash {
        std::size_t operator()(const std::string& id) const;
    };
    struct NoCaseEqual {
        bool operator()(const std::string& a, const std::string& b) const;
    };

    std::deque<std::string> m_entries;
    // Id (equal without regard to case) -> number of entries with that key (a stored cache
    // may hold duplicates).
    std::unordered_map<std::string, int, NoCaseHash, NoCaseEqual> m_index;
};

} // namespace zelm
