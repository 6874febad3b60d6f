#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A received message held as one text: a large message costs its size once, not a string per
// line. The lines never hold CR or LF, so the text is exactly the lines each ended by CR LF.
namespace zelm {

class MessageText {
public:
    MessageText() = default;
    /// A text made of the given lines (each must be free of CR and LF).
    static MessageText FromLines(const std::vector<std::string>& lines);

    std::size_t size() const { return m_starts.size(); }
    bool empty() const { return m_starts.empty(); }
    /// Line index, without its CR LF.
    std::string_view operator[](std::size_t index) const;
    /// Every line, each followed by CR LF.
    std::string_view Text() const { return m_text; }
    /// A copy as separate lines, for callers that keep them apart.
    std::vector<std::string> Lines() const;

    /// Room for about bytes of text, so a message of known size is read without regrowing.
    void Reserve(std::size_t bytes);
    void push_back(std::string_view line);
    /// Removes the first of two leading dots from every line that starts with "..".
    void RemoveDotStuffing();
    /// Drops the first count lines (all of them when count exceeds the size).
    void EraseFront(std::size_t count);
    /// Empties the text; a large buffer is given back rather than kept for the next message.
    void clear();

private:
    std::string m_text;
    std::vector<std::size_t> m_starts;
};

/// A read-only run of lines: stored lines, a message text, or header lines followed by a body
/// text. Lets a whole message go to a sender or a file without joining its parts first.
class MessageLines {
public:
    MessageLines(const std::vector<std::string>& lines) : m_head(&lines) {}
    MessageLines(const MessageText& text) : m_body(&text) {}
    MessageLines(const std::vector<std::string>& head, const MessageText& body)
        : m_head(&head), m_body(&body) {}

    std::size_t size() const { return HeadSize() + (m_body ? m_body->size() : 0); }
    bool empty() const { return size() == 0; }
    std::string_view operator[](std::size_t index) const {
        const std::size_t head = HeadSize();
        return index < head ? std::string_view((*m_head)[index]) : (*m_body)[index - head];
    }
    /// Calls visit(line) for every line in order.
    template <typename Visit>
    void ForEach(Visit&& visit) const {
        if (m_head) {
            for (const auto& line : *m_head)
                visit(std::string_view(line));
        }
        if (m_body) {
            for (std::size_t i = 0; i < m_body->size(); ++i)
                visit((*m_body)[i]);
        }
    }
    /// A copy as separate lines.
    std::vector<std::string> Lines() const;

private:
    std::size_t HeadSize() const { return m_head ? m_head->size() : 0; }

    const std::vector<std::string>* m_head = nullptr;
    const MessageText* m_body = nullptr;
};

} // namespace zelm
