#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zelm {

/// A mailbox's memory of processed message ids, oldest first, as kept in the data file's
/// "Cache" section. Beside the ordered list an index answers lookups without regard to case
/// in constant time, so a large cache costs no scan per message.
class MessageCache {
public:
    /// Replaces the contents with ids in file order (duplicates kept as stored).
    void Assign(std::vector<std::string> ids);
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
        std::size_t operator()(std::string_view id) const;
    };
    struct NoCaseEqual {
        bool operator()(std::string_view a, std::string_view b) const;
    };

    // The index key of an entry that is being removed points into another entry equal to it.
    void RekeyAwayFrom(const std::string& leaving);

    // A deque never moves its entries when growing or shrinking at the ends, so the index can
    // key on views of them instead of holding every id a second time.
    std::deque<std::string> m_entries;
    // Id (equal without regard to case) -> number of entries with that key (a stored cache
    // may hold duplicates). The key views the oldest entry that was added with it.
    std::unordered_map<std::string_view, int, NoCaseHash, NoCaseEqual> m_index;
};

} // namespace zelm
