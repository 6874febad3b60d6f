#pragma once

#include <string>

#include <QString>

#include "tests/ui/window_fixture.h"

class QPlainTextEdit;
class QTableWidget;

namespace zelm::test {

/// The window with the mailbox "home" shown and its Interactive page in front, for driving the
/// browser against a server on loopback.
class BrowserFixture : public WindowFixture {
protected:
    /// Creates the mailbox "home", starts the program and brings the Interactive page forward.
    void StartWithMailbox();
    /// Puts the connection values into the Mailboxes page's fields, unsaved, as a person would
    /// type them.
    void ShowConnection(const QString& host, const QString& port, const QString& user = "u",
                        const QString& password = "pw");
    /// Shows the values of a server on 127.0.0.1 and presses Connect.
    void ConnectTo(int port, const QString& user = "u", const QString& password = "pw");
    /// Presses Get summary and waits until the header timer has stopped with rows rows.
    bool FetchSummary(int rows);
    /// Clicks a cell of the row (from 0) with the mouse.
    void ClickRow(int row);

    QTableWidget* List();
    QPlainTextEdit* Pane();
    /// The pane's whole text.
    QString PaneText();
    /// The first status panel's text.
    QString Status();
    /// The text of a cell of the list.
    QString Cell(int row, int column);
};

} // namespace zelm::test
