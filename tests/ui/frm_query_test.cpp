#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "core/config_store.h"
#include "core/string_helpers.h"
#include "messages/data_file.h"
#include "tests/ui/action_dialog_fixture.h"
#include "ui/frm_query.h"

namespace zelm::test {
namespace {

const QString kSenderWarning =
    "Please enter a valid address (e.g. you@example.com) for the outgoing\r\n message. You can "
    "do this from the SMTP section in the Mailboxes tab.";
const QStringList kAddressEntries = {"{To}", "{From}", "{Reply-To}", "{Return-Path}"};

class TfrmQueryTest : public ActionDialogFixture {
protected:
    TfrmQuery& Query() { return Window().Query(); }
    QString Text(const char* field) { return Find<QLineEdit>(field)->text(); }
    QString Address() { return Find<QComboBox>("cmbQuery")->currentText(); }
    void SetAddress(const QString& text) { Find<QComboBox>("cmbQuery")->setCurrentText(text); }
    QPlainTextEdit* Body() { return Find<QPlainTextEdit>("memoOutMessage"); }
    bool Shows(const char* name) { return Find<QWidget>(name)->isVisible(); }
};

struct ModeCase {
    const char* name;
    const char* kind; ///< the Filters page's action kind; nullptr: the custom reply
    QString caption;
    QString prompt;
    std::vector<const char*> shown;
    std::vector<const char*> hidden;
    QString fromLabel, from, subject;
};

TEST_F(TfrmQueryTest, EachModeLabelsShowsFillsAndSizesTheDialog) {
    const std::vector<const char*> all = {"cmbQuery",       "edtFrom",      "edtSubject", "edtCc",
                                          "memoOutMessage", "cmbVariables", "butAddVar",  "butDate",
                                          "butTime",        "butAttach",    "butSaveData"};
    const ModeCase cases[] = {
        {"forward",
         "Forward message",
         "Forward message",
         "Forward to:",
         {"cmbQuery"},
         {},
         "",
         "",
         ""},
        {"send",
         "Send new email message",
         "Send new message",
         "Send to:",
         {"cmbQuery", "edtFrom", "edtSubject", "edtCc", "memoOutMessage", "cmbVariables",
          "butAddVar", "butDate", "butTime", "butAttach"},
         {"butSaveData"},
         "From",
         "{To}",
         "Re: {Subject}"},
        {"save",
         "Save data to file",
         "Save data to file",
         "Enter a name for the file to\r\nstore the retrievd data.",
         {"edtFrom", "butSaveData", "memoOutMessage", "cmbVariables", "butAddVar", "butDate",
          "butTime"},
         {},
         "File",
         "",
         ""},
        {"return to sender",
         nullptr,
         "Return to sender",
         "If you want to send only the original message,\r\nthen just delete the contents of "
         "this message.",
         {"edtFrom", "edtSubject", "memoOutMessage", "cmbVariables", "butAddVar", "butDate",
          "butTime"},
         {},
         "From",
         "me@example.com",
         "Re: {Subject}"},
    };
    StartOnFilter();
    StoreSender("me@example.com");
    for (const ModeCase& mode : cases) {
        SCOPED_TRACE(mode.name);
        // Left over from the mode before: every mode but forwarding starts with an empty body.
        Body()->setPlainText("left over");
        if (mode.kind != nullptr) {
            AddAction(mode.kind);
        } else {
            Query().OpenReturnToSender();
        }
        ASSERT_TRUE(Query().isVisible());
        EXPECT_EQ(Query().windowTitle(), mode.caption);
        EXPECT_EQ(Find<QLabel>("lblQuery")->text(), mode.prompt);
        for (const char* name : all) {
            const bool shown = std::find(mode.shown.begin(), mode.shown.end(),
                                         std::string_view(name)) != mode.shown.end();
            EXPECT_EQ(Shows(name), shown) << name;
        }
        EXPECT_TRUE(Shows("butQueryOK"));
        EXPECT_TRUE(Shows("butQueryCancel"));
        if (Shows("cmbQuery")) {
            EXPECT_EQ(Entries("cmbQuery"), kAddressEntries);
            EXPECT_EQ(Address(), "");
        }
        if (Shows("edtFrom")) {
            EXPECT_EQ(Find<QLabel>("lblFrom")->text(), mode.fromLabel);
            EXPECT_EQ(Text("edtFrom"), mode.from);
        }
        if (Shows("edtSubject")) {
            EXPECT_EQ(Text("edtSubject"), mode.subject);
        }
        if (Shows("edtCc")) {
            EXPECT_EQ(Text("edtCc"), "");
        }
        if (Shows("memoOutMessage")) {
            EXPECT_EQ(Body()->toPlainText(), "");
        }
        const int height = mode.caption == "Forward message"
                               ? Find<QComboBox>("cmbQuery")->geometry().top() + 60
                               : 340;
        EXPECT_EQ(Query().height(), height);
        EXPECT_EQ(Query().pos(), Window().pos() + QPoint(50, 100));
        Click("butQueryCancel");
        EXPECT_FALSE(Query().isVisible());
    }
    // Opening stores the list at once; Cancel adds nothing to it.
    EXPECT_EQ(StoredFilterValue("Actions"), "");
    EXPECT_FALSE(home.Exists("m00001.dat"));
    EXPECT_FALSE(home.Exists("d00001.dat"));
    EXPECT_FALSE(home.Exists("home.dat"));
}

TEST_F(TfrmQueryTest, ForwardAppendsItsLineAndAnEditedOneMovesToTheEnd) {
    StartOnFilter({"Fwd to: old@example.com", "Delete message"});
    StoreSender("me@example.com");
    AddAction("Forward message");
    Choose("cmbQuery", "{Reply-To}");
    Click("butQueryOK");
    EXPECT_FALSE(Query().isVisible());
    EXPECT_EQ(StoredFilterValue("Actions"),
              "Fwd to: old@example.com\r\nDelete message\r\nFwd to: {Reply-To}\r\n");

    EditAction(0);
    EXPECT_EQ(Query().windowTitle(), "Forward message (edit)");
    EXPECT_EQ(Address(), "old@example.com");
    EXPECT_EQ(Entries("cmbQuery"), kAddressEntries);
    SetAddress("new@example.com");
    Click("butQueryOK");
    EXPECT_EQ(StoredFilterValue("Actions"),
              "Delete message\r\nFwd to: {Reply-To}\r\nFwd to: new@example.com\r\n");
    EXPECT_EQ(Entries("lstActions"),
              QStringList({"Delete message", "Fwd to: {Reply-To}", "Fwd to: new@example.com"}));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(TfrmQueryTest, AnEmptyForwardAddressKeepsTheDialogOpenAndTheEditedLine) {
    StartOnFilter({"Fwd to: a@example.com"});
    EditAction(0);
    SetAddress("  \t");
    Click("butQueryOK");
    EXPECT_TRUE(Query().isVisible());
    EXPECT_EQ(StoredFilterValue("Actions"), "Fwd to: a@example.com\r\n");
    Click("butQueryCancel");
    EXPECT_EQ(StoredFilterValue("Actions"), "Fwd to: a@example.com\r\n");
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(TfrmQueryTest, ASenderWithoutAtIsWarnedAboutAndTheActionIsStoredAnyway) {
    StartOnFilter();
    StoreSender("postmaster");
    AddAction("Forward message");
    SetAddress("boss@example.com");
    Click("butQueryOK");
    AddAction("Send new email message");
    Click("butQueryOK");
    EXPECT_EQ(dialogs.messages, QStringList({kSenderWarning, kSenderWarning}));
    EXPECT_EQ(StoredFilterValue("Actions"), "Fwd to: boss@example.com\r\nSend msg: m00001\r\n");
    EXPECT_TRUE(home.Exists("m00001.dat"));
    EXPECT_FALSE(Query().isVisible());
}

TEST_F(TfrmQueryTest, SendNewMessageWritesTheTemplateWithItsAttachmentAndEditRewritesIt) {
    StartOnFilter({"Delete message"});
    StoreSender("me@example.com");
    home.Write("m00001.dat", "taken\r\n");
    home.Write("m00003.dat", "taken\r\n");
    AddAction("Send new email message");
    SetAddress("{From}, boss@example.com");
    Find<QLineEdit>("edtCc")->setText("cc@example.com");
    Body()->setPlainText("Dear {From},\nthanks.");
    dialogs.AnswerFile("/srv/files/price list.pdf");
    Click("butAttach");
    EXPECT_EQ(dialogs.shown.back().kind, "open");
    EXPECT_FALSE(Find<QPushButton>("butAttach")->isEnabled());
    Click("butQueryOK");

    const std::string written = "From: {To}\r\nSubject: Re: {Subject}\r\n"
                                "To: {From}, boss@example.com\r\nCc: cc@example.com\r\n\r\n"
                                "Attachment: /srv/files/price list.pdf\r\n"
                                "Dear {From},\r\nthanks.\r\n";
    EXPECT_EQ(home.Read("m00002.dat"), written);
    EXPECT_EQ(StoredFilterValue("Actions"), "Delete message\r\nSend msg: m00002\r\n");
    EXPECT_TRUE(dialogs.messages.isEmpty());

    EditAction(1);
    EXPECT_EQ(Query().windowTitle(), "Send new message (edit)");
    EXPECT_EQ(Text("edtFrom"), "{To}");
    EXPECT_EQ(Text("edtSubject"), "Re: {Subject}");
    EXPECT_EQ(Address(), "{From}, boss@example.com");
    EXPECT_EQ(Text("edtCc"), "cc@example.com");
    EXPECT_EQ(Body()->toPlainText(),
              "Attachment: /srv/files/price list.pdf\nDear {From},\nthanks.");
    EXPECT_FALSE(Find<QPushButton>("butAttach")->isEnabled());
    Find<QLineEdit>("edtSubject")->setText("Price list");
    Click("butQueryOK");
    EXPECT_EQ(home.Read("m00002.dat"), ReplaceAll(written, "Re: {Subject}", "Price list"));
    EXPECT_EQ(StoredFilterValue("Actions"), "Delete message\r\nSend msg: m00002\r\n");
    EXPECT_FALSE(home.Exists("m00004.dat"));
}

TEST_F(TfrmQueryTest, EditingAnActionWhoseTemplateIsMissingSaysSoAndChangesNothing) {
    StartOnFilter({"Send msg: m00007", "Save data: d00007"});
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        dialogs.messages.clear();
        EditAction(row);
        ASSERT_EQ(dialogs.messages.size(), 1);
        const std::string file = home.File(row == 0 ? "m00007.dat" : "d00007.dat");
        EXPECT_TRUE(dialogs.messages[0].contains(QString::fromStdString(file)))
            << dialogs.messages[0].toStdString();
        EXPECT_FALSE(Query().isVisible());
    }
    EXPECT_EQ(StoredFilterValue("Actions"), "Send msg: m00007\r\nSave data: d00007\r\n");
}

TEST_F(TfrmQueryTest, SaveDataWritesTheOutputPathAndTheLinesAndEditRewritesThem) {
    StartOnFilter();
    StoreSender("postmaster"); // no warning for saving
    AddAction("Save data to file");
    dialogs.AnswerFile(QString::fromStdString(home.File("orders.txt")));
    Click("butSaveData");
    EXPECT_EQ(dialogs.shown.back().kind, "save");
    EXPECT_EQ(Text("edtFrom"), QString::fromStdString(home.File("orders.txt")));
    Body()->setPlainText("{DateStamp} {From}\n\n{Subject}\n");
    Click("butQueryOK");
    EXPECT_EQ(home.Read("d00001.dat"),
              home.File("orders.txt") + "\r\n{DateStamp} {From}\r\n\r\n{Subject}\r\n");
    EXPECT_EQ(StoredFilterValue("Actions"), "Save data: d00001\r\n");

    EditAction(0);
    EXPECT_EQ(Query().windowTitle(), "Save data to file (edit)");
    EXPECT_EQ(Text("edtFrom"), QString::fromStdString(home.File("orders.txt")));
    Find<QLineEdit>("edtFrom")->setText("sums.txt");
    Click("butQueryOK");
    EXPECT_EQ(home.Read("d00001.dat"), "sums.txt\r\n{DateStamp} {From}\r\n\r\n{Subject}\r\n");
    EXPECT_EQ(StoredFilterValue("Actions"), "Save data: d00001\r\n");
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(TfrmQueryTest, ReturnToSenderStoresTheRejectTextAndLoadsItAgain) {
    StartOnFilter();
    StoreSender("me@example.com");
    home.Write("home.dat", "[Accept List]\r\nfriend\r\n\r\n####\r\n");
    Query().OpenReturnToSender();
    Click("butQueryOK");
    EXPECT_FALSE(Query().isVisible());
    // An empty body: the two header lines and the empty line, nothing else.
    EXPECT_EQ(home.Read("home.dat"), "[Accept List]\r\nfriend\r\n\r\n####\r\n\r\n"
                                     "[Reject Text]\r\nFrom: me@example.com\r\n"
                                     "Subject: Re: {Subject}\r\n\r\n\r\n####\r\n");

    Query().OpenReturnToSender();
    Find<QLineEdit>("edtFrom")->setText("robot@example.com");
    Find<QLineEdit>("edtSubject")->setText("Not accepted");
    Body()->setPlainText("Your message was not accepted.\n\n-- \nrobot");
    Click("butQueryOK");
    EXPECT_EQ(ReadSectionLines(home.File("home.dat"), kSectionRejectText),
              std::vector<std::string>({"From: robot@example.com", "Subject: Not accepted", "",
                                        "Your message was not accepted.", "", "-- ", "robot"}));

    StoreSender("other@example.com");
    Query().OpenReturnToSender();
    EXPECT_EQ(Text("edtFrom"), "robot@example.com");
    EXPECT_EQ(Text("edtSubject"), "Not accepted");
    EXPECT_EQ(Body()->toPlainText(), "Your message was not accepted.\n\n-- \nrobot");
    EXPECT_EQ(Body()->textCursor().position(), 0);
    const std::string before = home.Read("home.dat");
    Body()->setPlainText("changed");
    Click("butQueryCancel");
    EXPECT_EQ(home.Read("home.dat"), before);
    EXPECT_EQ(StoredFilterValue("Actions"), "");
}

TEST_F(TfrmQueryTest, EditingAidsInsertAtTheCaretAndTheAttachmentRuleFollowsTheFirstLine) {
    StartOnFilter({}, {"order"});
    AddAction("Send new email message");
    QStringList variables = {"Bcc",      "Cc",          "From", "Originator", "Recipients",
                             "Reply-To", "Return-Path", "Size", "Subject",    "To",
                             "Header",   "Body",        "order"};
    EXPECT_EQ(Entries("cmbVariables"), variables);

    Body()->setPlainText("Total: XX.");
    QTextCursor cursor = Body()->textCursor();
    cursor.setPosition(7);
    cursor.setPosition(9, QTextCursor::KeepAnchor);
    Body()->setTextCursor(cursor);
    Choose("cmbVariables", "Body");
    Click("butAddVar");
    EXPECT_EQ(Body()->toPlainText(), "Total: {Body}.");
    EXPECT_EQ(Query().focusWidget(), Body());
    Click("butDate");
    Click("butTime");
    EXPECT_EQ(Body()->toPlainText(), "Total: {Body}{DateStamp}{TimeStamp}.");

    const struct {
        const char* text;
        bool enabled;
    } firstLines[] = {{"ATTACHMENT:/x\nbody", false},
                      {"attachment: y", false},
                      {"body\nAttachment: z", true},
                      {" Attachment: not first", true},
                      {"", true}};
    for (const auto& line : firstLines) {
        Body()->setPlainText(line.text);
        EXPECT_EQ(Find<QPushButton>("butAttach")->isEnabled(), line.enabled) << line.text;
    }
    dialogs.AnswerFile(""); // cancelled: nothing inserted
    Click("butAttach");
    EXPECT_EQ(Body()->toPlainText(), "");
}

TEST_F(TfrmQueryTest, WithNoFilterSelectedNothingIsWritten) {
    StartOnFilter();
    AddAction("Send new email message");
    // The page works on whatever is selected when OK is pressed.
    Find<QListWidget>("lstFilters")->clearSelection();
    Click("butQueryOK");
    EXPECT_EQ(dialogs.messages,
              QStringList({"Please select the filter on the Filters page first."}));
    EXPECT_TRUE(Query().isVisible());
    EXPECT_FALSE(home.Exists("m00001.dat"));
    EXPECT_EQ(StoredFilterValue("Actions"), "");
}

} // namespace
} // namespace zelm::test
