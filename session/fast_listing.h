#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/config_store.h"
#include "protocols/pop3.h"

namespace zelm {

/// The "Fast listing" of one mailbox: every message's unique id and size from one UIDL and
/// one LIST, and, when the server pipelines, the headers of the new messages read ahead in
/// bursts. It only replaces how the values are fetched: each message is still taken up in
/// turn exactly as by the per-message dialogue, which stands in for whatever the listing
/// lacks (a server without CAPA or the bulk commands, a malformed or missing line).
class FastListing {
public:
    /// Most TOP commands awaiting their replies at once.
    static constexpr std::size_t kWindow = 32;
    /// Most headers read ahead in one burst.
    static constexpr std::size_t kBurst = 128;

    /// The store asks for the fast listing ("FastListing" under the settings root; a value
    /// that cannot be read counts as absent).
    static bool Enabled(SettingsDb& db);

    /// After the login: CAPA, then UIDL and LIST without a number. A refused CAPA, UIDL or
    /// LIST leaves the listing inactive, so the mailbox gets the per-message dialogue.
    void Start(Pop3Client& pop3);
    /// Forgets the mailbox's listing.
    void Clear();
    /// The listing is in use for the current mailbox.
    bool Active() const { return m_active; }

    /// Message n's unique id as listed; nullopt asks for UIDL n.
    std::optional<std::string> Uid(int n) const;
    /// Message n's size as listed; nullopt asks for LIST n.
    std::optional<int> Size(int n) const;
    /// Message n's TOP n 0 reply, read ahead together with those of the following messages
    /// for which needsHeader holds; nullopt (no pipelining) asks for TOP n 0.
    std::optional<std::string> HeaderReply(Pop3Client& pop3, int n,
                                           const std::function<bool(int)>& needsHeader);

    /// The connection was lost while the listing or a burst read ahead, and no command has
    /// been tried since: the per-message dialogue would only now learn of it, at the first
    /// command of the next message.
    bool LossUnnoticed(const Connection& connection) const;

private:
    // Notes a connection lost by the listing's own commands.
    void NoteLoss(const Connection& connection);

    bool m_active = false;
    bool m_lost = false;
    std::size_t m_sendCallsAtLoss = 0;
    bool m_pipelining = false;
    MailboxListing m_listing;
    // The replies of the last burst after its first, in ascending message order; one taken
    // up is reset, so it is never handed out twice.
    struct ReadAhead {
        int number;
        std::optional<std::string> reply;
    };
    std::vector<ReadAhead> m_readAhead;
};

} // namespace zelm
