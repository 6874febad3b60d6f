#include "session/fast_listing.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "core/schema.h"

namespace zelm {

bool FastListing::Enabled(SettingsDb& db) {
    try {
        ConfigStore root(db);
        if (!root.OpenKey(SettingsRoot, false) || !root.ValueExists(schema::FastListing)) {
            return schema::StoredFastListing;
        }
        return root.ReadBool(schema::FastListing);
    } catch (const std::exception&) {
        return schema::StoredFastListing;
    }
}

void FastListing::Start(Pop3Client& pop3) {
    Clear();
    if (pop3.messageTotal <= 0 || !pop3.connection.Active()) return;
    bool pipelining = false;
    const bool listed =
        Pop3Capa(pop3, pipelining) && Pop3UidlAll(pop3, m_listing) && Pop3ListAll(pop3, m_listing);
    NoteLoss(pop3.connection);
    if (!listed) {
        m_listing = MailboxListing{};
        return;
    }
    m_pipelining = pipelining;
    m_active = true;
}

void FastListing::NoteLoss(const Connection& connection) {
    if (connection.Active()) return;
    m_lost = true;
    m_sendCallsAtLoss = connection.SendCalls();
}

bool FastListing::LossUnnoticed(const Connection& connection) const {
    return m_lost && !connection.Active() && connection.SendCalls() == m_sendCallsAtLoss;
}

void FastListing::Clear() {
    m_active = false;
    m_lost = false;
    m_pipelining = false;
    m_listing = MailboxListing{};
    m_readAhead.clear();
}

std::optional<std::string> FastListing::Uid(int n) const {
    if (!m_active || n < 1 || static_cast<std::size_t>(n) > m_listing.uids.size()) {
        return std::nullopt;
    }
    return m_listing.uids[static_cast<std::size_t>(n - 1)];
}

std::optional<int> FastListing::Size(int n) const {
    if (!m_active || n < 1 || static_cast<std::size_t>(n) > m_listing.sizes.size()) {
        return std::nullopt;
    }
    return m_listing.sizes[static_cast<std::size_t>(n - 1)];
}

std::optional<std::string> FastListing::HeaderReply(Pop3Client& pop3, int n,
                                                    const std::function<bool(int)>& needsHeader) {
    if (!m_active || !m_pipelining) return std::nullopt;
    const auto found =
        std::lower_bound(m_readAhead.begin(), m_readAhead.end(), n,
                         [](const ReadAhead& entry, int number) { return entry.number < number; });
    if (found != m_readAhead.end() && found->number == n && found->reply) {
        std::optional<std::string> reply = std::move(found->reply);
        found->reply.reset();
        return reply;
    }
    // Whatever was read ahead for earlier numbers is no longer wanted.
    m_readAhead.clear();
    std::vector<int> numbers{n};
    for (int next = n + 1; next <= pop3.messageTotal && numbers.size() < kBurst; ++next) {
        if (needsHeader(next)) numbers.push_back(next);
    }
    auto replies = Pop3TopPipelined(pop3, numbers, kWindow);
    NoteLoss(pop3.connection);
    m_readAhead.reserve(numbers.size() - 1);
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        m_readAhead.push_back({numbers[i], std::move(replies[i])});
    }
    return std::move(replies[0]);
}

} // namespace zelm
