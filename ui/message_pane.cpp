#include "ui/message_pane.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>

namespace zelm {
namespace {

// Laying out this much text takes a few milliseconds; a batch is extended to a whole line,
// since a line that grows batch by batch would be laid out again with every batch.
constexpr qsizetype kBatchChars = 16 * 1024;
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

void MessagePane::ShowText(const QString& text) {
    const unsigned generation = ++m_generation;
    m_text = text;
    clear();
    Fill(generation);
}

void MessagePane::SetWrapped(bool wrapped) {
    // A new wrap mode lays out every line again at once; an empty pane does that in no time,
    // and the text then goes in again batch by batch.
    const QString text = m_text;
    ++m_generation;
    clear();
    setLineWrapMode(wrapped ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(wrapped ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ShowText(text);
}

void MessagePane::Fill(unsigned generation) {
    // The copy shares the text's data; a new text shown during a pump replaces m_text.
    const QString text = m_text;
    const QPointer<MessagePane> self(this);
    m_filling = true;
    QTextCursor end(document());
    QElapsedTimer sincePump;
    sincePump.start();
    bool first = true;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype stop = std::min(text.size(), at + kBatchChars);
        if (stop < text.size()) {
            const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), stop - 1);
            stop = lineEnd < 0 ? text.size() : lineEnd + 1;
        }
        end.movePosition(QTextCursor::End);
        end.insertText(text.sliced(at, stop - at));
        at = stop;
        // The top is shown as soon as it is there; the rest goes in below it.
        if (first) {
            moveCursor(QTextCursor::Start);
            verticalScrollBar()->setValue(0);
        }
        if (at < text.size() && (first || sincePump.elapsed() >= kPumpEveryMs)) {
            m_pump();
            if (!self || m_generation != generation) return;
            sincePump.restart();
        }
        first = false;
    }
    m_filling = false;
}

} // namespace zelm
