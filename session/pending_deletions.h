#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace zelm {

/// The current mailbox's messages that are to be deleted but not yet known to be: POP3 deletes
/// a message only at a QUIT after its DELE, so a session killed before it (or a QUIT that fails)
/// leaves them on the server. Left over from an earlier session, such a message is deleted when
/// its id shows up again, without being processed once more. Ids compare exactly: a deletion
/// must never reach another message.
class PendingDeletions {
public:
    /// Starts the mailbox with the deletions an earlier session left over.
    void Assign(const std::vector<std::string>& ids);
    /// Forgets every deletion (the end of a mailbox).
    void Clear();

    /// An earlier session decided to delete the message with this id; marks it as seen.
    bool TakeLeftOver(const std::string& id);
    /// The id is a deletion left over from an earlier session (nothing is marked).
    bool IsLeftOver(const std::string& id) const;
    /// This session decided to delete the message with this id.
    void Decided(const std::string& id);
    /// The server accepted the DELE for the message with this id.
    void Accepted(const std::string& id);

    /// The deletions still to be done after the mailbox's QUIT: committed tells that the server
    /// accepted the QUIT, sawEveryMessage that the message loop reached the last message (a
    /// leftover id that did not show up then is gone from the server).
    std::vector<std::string> Remaining(bool committed, bool sawEveryMessage) const;

private:
    struct Entry {
        bool seen = false;
        bool accepted = false;
        bool leftOver = false;
    };
    std::unordered_map<std::string, Entry> m_entries;
    // The ids in the order they were first met, so the journal keeps its order.
    std::vector<std::string> m_order;

    Entry& Find(const std::string& id);
};

} // namespace zelm
