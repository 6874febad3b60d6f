#include "session/message_cache.h"

#include <cstdint>

#include "core/string_helpers.h"

namespace zelm {

std::size_t MessageCache::NoCaseHash::operator()(const std::string& id) const {
    // FNV-1a over the lower-cased bytes.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : id) {
        hash ^= static_cast<unsigned char>(LowerAsciiChar(c));
        hash *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
}

bool MessageCache::NoCaseEqual::operator()(const std::string& a, const std::string& b) const {
    return EqualsNoCase(a, b);
}

void MessageCache::Assign(const std::vector<std::string>& ids) {
    Clear();
    for (const auto& id : ids) {
        Append(id);
    }
}

bool MessageCache::Contains(const std::string& id) const {
    return m_index.find(id) != m_index.end();
}

void MessageCache::Append(const std::string& id) {
    m_entries.push_back(id);
    ++m_index[id];
}

void MessageCache::Trim(long limit) {
    while (!m_entries.empty() && (limit <= 0 || static_cast<long>(m_entries.size()) > limit)) {
        auto found = m_index.find(m_entries.front());
        if (found != m_index.end() && --found->second == 0) {
            m_index.erase(found);
        }
        m_entries.pop_front();
    }
}

std::vector<std::string> MessageCache::Lines() const {
    return {m_entries.begin(), m_entries.end()};
}

void MessageCache::Clear() {
    m_entries.clear();
    m_index.clear();
}

} // namespace zelm
