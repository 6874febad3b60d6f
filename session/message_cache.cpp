#include "session/message_cache.h"

#include "core/string_helpers.h"

namespace zelm {

void MessageCache::Assign(const std::vector<std::string>& ids) {
    Clear();
    for (const auto& id : ids) {
        Append(id);
    }
}

bool MessageCache::Contains(const std::string& id) const {
    return m_index.find(LowerAscii(id)) != m_index.end();
}

void MessageCache::Append(const std::string& id) {
    m_entries.push_back(id);
    ++m_index[LowerAscii(id)];
}

void MessageCache::Trim(long limit) {
    while (!m_entries.empty() && (limit <= 0 || static_cast<long>(m_entries.size()) > limit)) {
        auto found = m_index.find(LowerAscii(m_entries.front()));
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
