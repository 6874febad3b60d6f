#include "session/pending_deletions.h"

namespace zelm {

void PendingDeletions::Assign(const std::vector<std::string>& ids) {
    Clear();
    for (const auto& id : ids)
        Find(id).leftOver = true;
}

void PendingDeletions::Clear() {
    m_entries.clear();
    m_order.clear();
}

bool PendingDeletions::TakeLeftOver(const std::string& id) {
    const auto found = m_entries.find(id);
    if (found == m_entries.end() || !found->second.leftOver) return false;
    found->second.seen = true;
    return true;
}

bool PendingDeletions::IsLeftOver(const std::string& id) const {
    const auto found = m_entries.find(id);
    return found != m_entries.end() && found->second.leftOver;
}

void PendingDeletions::Decided(const std::string& id) {
    Find(id).seen = true;
}

void PendingDeletions::Accepted(const std::string& id) {
    Find(id).accepted = true;
}

std::vector<std::string> PendingDeletions::Remaining(bool committed, bool sawEveryMessage) const {
    std::vector<std::string> remaining;
    for (const auto& id : m_order) {
        const Entry& entry = m_entries.at(id);
        if (committed && (entry.accepted || (sawEveryMessage && !entry.seen))) continue;
        remaining.push_back(id);
    }
    return remaining;
}

PendingDeletions::Entry& PendingDeletions::Find(const std::string& id) {
    const auto [found, added] = m_entries.try_emplace(id);
    if (added) m_order.push_back(id);
    return found->second;
}

} // namespace zelm
