#pragma once

#include <vector>

#include <QWidget>

#include "session/test_run_report.h"

class QLineEdit;
class QPlainTextEdit;

namespace zelm {

/// The test run's report on the Interactive page: a read-only text the person scrolls, a find
/// field (Enter finds the next match, from the top again after the last), and the line that
/// decided each message highlighted.
class TestRunPane : public QWidget {
    Q_OBJECT
public:
    explicit TestRunPane(QWidget* parent = nullptr);

    /// Empties the report.
    void Clear();
    /// Appends report lines as a run produces them.
    void AppendLines(const std::vector<ReportLine>& lines);
    /// Shows the report from its first line.
    void ScrollToTop();
    /// The report as it stands, as plain text.
    QString Text() const;
    /// The text of the highlighted (deciding) lines, in order.
    QStringList DecidingLines() const;
    /// Selects the next occurrence of the find field's text; false when there is none.
    bool FindNext();

private:
    void Highlight();

    QLineEdit* m_edtFind;
    QPlainTextEdit* m_memoReport;
    /// Block numbers of the deciding lines.
    std::vector<int> m_deciding;
};

} // namespace zelm
