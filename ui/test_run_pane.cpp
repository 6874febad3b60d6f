#include "ui/test_run_pane.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace zelm {

TestRunPane::TestRunPane(QWidget* parent)
    : QWidget(parent), m_edtFind(new QLineEdit(this)), m_memoReport(new QPlainTextEdit(this)) {
    setObjectName("pnlTestRun");
    auto* findLabel = new QLabel(tr("&Find in the report:"), this);
    findLabel->setBuddy(m_edtFind);
    m_edtFind->setObjectName("edtTestRunFind");
    m_edtFind->setAccessibleName(tr("Find in the report"));
    m_edtFind->setClearButtonEnabled(true);
    m_memoReport->setObjectName("memoTestRun");
    m_memoReport->setAccessibleName(tr("Test run report"));
    m_memoReport->setReadOnly(true);
    m_memoReport->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memoReport->setFont(QFont("monospace"));

    auto* findRow = new QHBoxLayout;
    findRow->addWidget(findLabel);
    findRow->addWidget(m_edtFind, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(findRow);
    layout->addWidget(m_memoReport, 1);

    connect(m_edtFind, &QLineEdit::returnPressed, this, [this] { FindNext(); });
}

void TestRunPane::Clear() {
    m_memoReport->clear();
    m_deciding.clear();
    Highlight();
}

void TestRunPane::AppendLines(const std::vector<ReportLine>& lines) {
    for (const auto& line : lines) {
        // appendPlainText makes one block per call: the block number is the line's.
        m_memoReport->appendPlainText(QString::fromUtf8(ReportLineText(line)));
        if (line.deciding) m_deciding.push_back(m_memoReport->document()->blockCount() - 1);
    }
    Highlight();
}

void TestRunPane::ScrollToTop() {
    m_memoReport->moveCursor(QTextCursor::Start);
    m_memoReport->ensureCursorVisible();
}

QString TestRunPane::Text() const {
    return m_memoReport->toPlainText();
}

QStringList TestRunPane::DecidingLines() const {
    QStringList texts;
    for (const int block : m_deciding)
        texts << m_memoReport->document()->findBlockByNumber(block).text();
    return texts;
}

bool TestRunPane::FindNext() {
    const QString text = m_edtFind->text();
    if (text.isEmpty()) return false;
    if (m_memoReport->find(text)) return true;
    // From the top again, once.
    QTextCursor top(m_memoReport->document());
    m_memoReport->setTextCursor(top);
    return m_memoReport->find(text);
}

void TestRunPane::Highlight() {
    QList<QTextEdit::ExtraSelection> selections;
    for (const int block : m_deciding) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(m_memoReport->document()->findBlockByNumber(block));
        selection.format.setBackground(QColor(255, 236, 153));
        selection.format.setProperty(QTextFormat::FullWidthSelection, true);
        selections << selection;
    }
    m_memoReport->setExtraSelections(selections);
}

} // namespace zelm
