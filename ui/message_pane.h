#pragma once

#include <functional>
#include <string>

#include <QPlainTextEdit>

namespace zelm {

/// A read-only text pane that takes a text of any size without freezing the window: a long
/// text goes in batch by batch, whole lines at a time, each batch turned from UTF-8 as it goes
/// in, and the window's events are handled between the batches.
class MessagePane : public QPlainTextEdit {
    Q_OBJECT
public:
    /// pump handles the window's pending events (the engine's pump).
    explicit MessagePane(std::function<void()> pump, QWidget* parent = nullptr);

    /// Replaces the text (UTF-8, lines ending in LF) and shows its top. A text still going in
    /// is dropped for the new one.
    void ShowText(std::string text);
    /// Wraps long lines at the pane's width with only a vertical scroll bar, or shows scroll
    /// bars both ways without wrapping.
    void SetWrapped(bool wrapped);
    /// The text the pane shows (or is still taking in), whole.
    const std::string& Text() const { return m_text; }
    /// A long text is still going in.
    bool Filling() const { return m_filling; }

private:
    void Fill(unsigned generation);

    std::function<void()> m_pump;
    std::string m_text;
    unsigned m_generation = 0;
    bool m_filling = false;
};

} // namespace zelm
