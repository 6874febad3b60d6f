#include "tests/ui/browser_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "ui/interactive_page.h"

namespace zelm::test {

void BrowserFixture::StartWithMailbox() {
    CreateMailbox(Store(), "home", {true, "100", "", ""});
    StorePosition();
    Start();
    Find<QTabWidget>("pgcMain")->setCurrentWidget(&Window().Interactive());
}

void BrowserFixture::ShowConnection(const QString& host, const QString& port, const QString& user,
                                    const QString& password) {
    const auto show = [this](const char* name, const QString& text) {
        Find<QLineEdit>(name)->setText(text);
    };
    show("edtHost", host);
    show("edtPort", port);
    show("edtUserID", user);
    show("edtPassword", password);
}

void BrowserFixture::ConnectTo(int port, const QString& user, const QString& password) {
    ShowConnection("127.0.0.1", QString::number(port), user, password);
    Click("butConnect");
}

bool BrowserFixture::FetchSummary(int rows) {
    Click("butGetSummary");
    auto* timer = Find<QTimer>("Timer1");
    return WaitFor([&] { return List()->rowCount() == rows && !timer->isActive(); }, 20000);
}

void BrowserFixture::ClickRow(int row) {
    QTableWidget* list = List();
    const QRect cell = list->visualRect(list->model()->index(row, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

QTableWidget* BrowserFixture::List() {
    return Find<QTableWidget>("ListView1");
}

QPlainTextEdit* BrowserFixture::Pane() {
    return Find<QPlainTextEdit>("memoMsg");
}

QString BrowserFixture::PaneText() {
    return Pane()->toPlainText();
}

QString BrowserFixture::Status() {
    return Find<QLabel>("pnlStatus1")->text();
}

QString BrowserFixture::Cell(int row, int column) {
    const QTableWidgetItem* item = List()->item(row, column);
    return item ? item->text() : QString("<no item>");
}

} // namespace zelm::test
