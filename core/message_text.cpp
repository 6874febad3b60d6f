#include "core/message_text.h"

#include <cstring>

namespace zelm {
namespace {

// Above this a cleared text frees its buffer: one large message must not stay held for the
// rest of the program's life.
constexpr std::size_t kKeptCapacity = 1024 * 1024;
// Lines of mail are rarely shorter; the line table is sized from the text's size with it.
constexpr std::size_t kTypicalLineBytes = 32;

} // namespace

MessageText MessageText::FromLines(const std::vector<std::string>& lines) {
    MessageText text;
    std::size_t bytes = 0;
    for (const auto& line : lines)
        bytes += line.size() + 2;
    text.m_text.reserve(bytes);
    text.m_starts.reserve(lines.size());
    for (const auto& line : lines)
        text.push_back(line);
    return text;
}

std::string_view MessageText::operator[](std::size_t index) const {
    const std::size_t start = m_starts[index];
    const std::size_t end = index + 1 < m_starts.size() ? m_starts[index + 1] : m_text.size();
    return std::string_view(m_text).substr(start, end - start - 2);
}

std::vector<std::string> MessageText::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        lines.emplace_back((*this)[i]);
    return lines;
}

void MessageText::Reserve(std::size_t bytes) {
    m_text.reserve(bytes);
    m_starts.reserve(bytes / kTypicalLineBytes);
}

void MessageText::push_back(std::string_view line) {
    m_starts.push_back(m_text.size());
    m_text.append(line);
    m_text.append("\r\n");
}

void MessageText::RemoveDotStuffing() {
    // One pass moving every byte at most once, however many lines lose a dot.
    char* data = m_text.data();
    std::size_t removed = 0;
    for (std::size_t i = 0; i < m_starts.size(); ++i) {
        const std::size_t start = m_starts[i];
        const std::size_t end = i + 1 < m_starts.size() ? m_starts[i + 1] : m_text.size();
        std::size_t from = start;
        if (end - start >= 4 && data[start] == '.' && data[start + 1] == '.') ++from;
        if (removed > 0 || from != start)
            std::memmove(data + start - removed, data + from, end - from);
        m_starts[i] = start - removed;
        removed += from - start;
    }
    m_text.resize(m_text.size() - removed);
}

void MessageText::EraseFront(std::size_t count) {
    if (count >= m_starts.size()) {
        m_text.clear();
        m_starts.clear();
        return;
    }
    const std::size_t offset = m_starts[count];
    m_text.erase(0, offset);
    m_starts.erase(m_starts.begin(), m_starts.begin() + static_cast<std::ptrdiff_t>(count));
    for (auto& start : m_starts)
        start -= offset;
}

void MessageText::clear() {
    if (m_text.capacity() > kKeptCapacity) {
        std::string().swap(m_text);
        std::vector<std::size_t>().swap(m_starts);
    } else {
        m_text.clear();
        m_starts.clear();
    }
}

std::vector<std::string> MessageLines::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(size());
    ForEach([&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

} // namespace zelm
