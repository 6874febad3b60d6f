#include "session/message_cache.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "core/string_helpers.h"

namespace zelm {

std::size_t MessageCache::NoCaseHash::operator()(std::string_view id) const {
    // Eight bytes at a time, each with bit 5 set: ids equal without regard to case hash alike.
    // The few other pairs this folds together ("@" and "`", say) merely share a bucket.
    constexpr std::uint64_t kFold = 0x2020202020202020ULL;
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    std::uint64_t hash = id.size() * kMultiplier;
    const auto mix = [&hash](std::uint64_t word) {
        hash = (hash ^ (word | kFold)) * kMultiplier;
        hash ^= hash >> 32;
    };
    std::size_t i = 0;
    for (; i + 8 <= id.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, id.data() + i, 8);
        mix(word);
    }
    if (i < id.size()) {
        std::uint64_t word = 0;
        std::memcpy(&word, id.data() + i, id.size() - i);
        mix(word);
    }
    return static_cast<std::size_t>(hash);
}

bool MessageCache::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
    return EqualsNoCase(a, b);
}

void MessageCache::Assign(std::vector<std::string> ids) {
    Clear();
    for (auto& id : ids) {
        m_entries.push_back(std::move(id));
        ++m_index[m_entries.back()];
    }
}

bool MessageCache::Contains(const std::string& id) const {
    return m_index.find(id) != m_index.end();
}

void MessageCache::Append(const std::string& id) {
    m_entries.push_back(id);
    ++m_index[m_entries.back()];
}

void MessageCache::RekeyAwayFrom(const std::string& leaving) {
    auto node = m_index.extract(leaving);
    // Rare (a stored cache holding an id twice): the next equal entry takes the key over.
    for (std::size_t i = 1; i < m_entries.size(); ++i) {
        if (EqualsNoCase(m_entries[i], leaving)) {
            node.key() = m_entries[i];
            break;
        }
    }
    m_index.insert(std::move(node));
}

void MessageCache::Trim(long limit) {
    while (!m_entries.empty() && (limit <= 0 || static_cast<long>(m_entries.size()) > limit)) {
        const std::string& oldest = m_entries.front();
        auto found = m_index.find(oldest);
        if (found != m_index.end()) {
            if (--found->second == 0) {
                m_index.erase(found);
            } else if (found->first.data() == oldest.data()) {
                RekeyAwayFrom(oldest);
            }
        }
        m_entries.pop_front();
    }
}

std::vector<std::string> MessageCache::Lines() const {
    return {m_entries.begin(), m_entries.end()};
}

void MessageCache::Clear() {
    m_index.clear();
    m_entries.clear();
}

} // namespace zelm
