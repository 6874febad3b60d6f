#include "ui/message_pane.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>

namespace zelm {
namespace {

// Laying out this much text takes a few milliseconds; a batch is extended to a whole line,
// since a line that grows batch by batch would be laid out again with every batch (and a
// line end never falls inside a UTF-8 sequence).
constexpr std::size_t kBatchBytes = 16 * 1024;
// While a text goes in, the window's events are handled at least this often.
constexpr qint64 kPumpEveryMs = 25;

} // namespace

MessagePane::MessagePane(std::function<void()> pump, QWidget* parent)
    : QPlainTextEdit(parent), m_pump(std::move(pump)) {
    setReadOnly(true);
    // Nobody undoes in a read-only pane; the undo record would double a large text in memory.
    document()->setUndoRedoEnabled(false);
    SetWrapped(false);
}

void MessagePane::ShowText(std::string text) {
    const unsigned generation = ++m_generation;
    m_text = std::move(text);
    clear();
    Fill(generation);
}

void MessagePane::SetWrapped(bool wrapped) {
    // A new wrap mode lays out every line again at once; an empty pane does that in no time,
    // and the text then goes in again batch by batch.
    std::string text = std::move(m_text);
    ++m_generation;
    clear();
    setLineWrapMode(wrapped ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(wrapped ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ShowText(std::move(text));
}

void MessagePane::Fill(unsigned generation) {
    const QPointer<MessagePane> self(this);
    m_filling = true;
    QTextCursor end(document());
    QElapsedTimer sincePump;
    sincePump.start();
    bool first = true;
    std::size_t at = 0;
    // A new text shown during a pump replaces m_text; the generation tells this fill to end
    // before it reads m_text again.
    while (at < m_text.size()) {
        std::size_t stop = std::min(m_text.size(), at + kBatchBytes);
        if (stop < m_text.size()) {
            const std::size_t lineEnd = m_text.find('\n', stop - 1);
            stop = lineEnd == std::string::npos ? m_text.size() : lineEnd + 1;
        }
        end.movePosition(QTextCursor::End);
        end.insertText(QString::fromUtf8(m_text.data() + at, static_cast<qsizetype>(stop - at)));
        at = stop;
        // The top is shown as soon as it is there; the rest goes in below it.
        if (first) {
            moveCursor(QTextCursor::Start);
            verticalScrollBar()->setValue(0);
        }
        if (at < m_text.size() && (first || sincePump.elapsed() >= kPumpEveryMs)) {
            m_pump();
            if (!self || m_generation != generation) return;
            sincePump.restart();
        }
        first = false;
    }
    m_filling = false;
}

} // namespace zelm
