#include <initializer_list>
#include <string>
#include <vector>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include "core/config_store.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "tests/ui/window_fixture.h"
#include "ui/filters_page.h"
#include "ui/mailboxes_page.h"

namespace zelm::test {
namespace {

const char* const kRuleButtons[] = {"butAddFilterRule", "butInsFilterRule", "butDelFilterRule",
                                    "butUpFilterRule", "butDownFilterRule"};
const char* const kActionButtons[] = {"butAddActions", "butDelActions", "butUpActions",
                                      "ButDownActions"};

/// The Filters page of a window started on the mailbox "home".
class FiltersPageTest : public WindowFixture {
protected:
    /// Creates "home" with the filters (each with the given Actions, if any), starts the
    /// window and shows the Filters page.
    void StartWith(std::initializer_list<const char*> filters) {
        CreateMailbox(Store(), "home", {});
        for (const char* filter : filters)
            CreateFilter(Store(), "home", filter);
        Start();
        Find<QTabWidget>("pgcMain")->setCurrentWidget(&Page());
    }

    FiltersPage& Page() { return Window().Filters(); }

    /// A value of a filter of "home" as stored; "<absent>" when the filter key is missing.
    std::string Stored(const char* filter, const char* name) {
        return ReadRegString(Store(), FilterKeyPath("home", filter), name, "<absent>");
    }
    void StoreValue(const char* filter, const char* name, const std::vector<std::string>& lines) {
        WriteRegString(Store(), FilterKeyPath("home", filter), name, JoinListValue(lines));
    }

    /// Clicks the list's entry at row, as a person would.
    void ClickRow(const char* listName, int row) {
        auto* list = Find<QListWidget>(listName);
        ASSERT_NE(list->item(row), nullptr) << listName << " has no row " << row;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
    }
    void ClickFilter(const char* name) {
        const auto items = Find<QListWidget>("lstFilters")->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name;
        ClickRow("lstFilters", Find<QListWidget>("lstFilters")->row(items.first()));
    }
    /// Chooses the combo box's entry with that text.
    void Choose(const char* comboName, const QString& text) {
        auto* combo = Find<QComboBox>(comboName);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << comboName << " has no entry " << text.toStdString();
        combo->setCurrentIndex(index);
    }
    QStringList Entries(const char* name) {
        QStringList entries;
        if (auto* list = Window().findChild<QListWidget*>(name)) {
            for (int i = 0; i < list->count(); ++i)
                entries.append(list->item(i)->text());
        } else {
            auto* combo = Find<QComboBox>(name);
            for (int i = 0; i < combo->count(); ++i)
                entries.append(combo->itemText(i));
        }
        return entries;
    }
    bool Enabled(const char* name) { return Find<QPushButton>(name)->isEnabled(); }
    /// Builds and adds one rule from the builder's controls.
    void AddRule(int connector, const char* field, const char* comparison, const QString& text) {
        Find<QComboBox>("cmbAndOr")->setCurrentIndex(connector);
        Choose("cmbRulesField", field);
        Choose("cmbRulesContains", comparison);
        Find<QLineEdit>("edtCompText")->setText(text);
        Click("butAddFilterRule");
    }
    void AddAction(const char* kind) {
        Choose("cmbResponse", kind);
        Click("butAddActions");
    }
};

TEST_F(FiltersPageTest, NewFilterRefusesEmptyDuplicateAndStoreRefusedNamesKeepingTheText) {
    StartWith({"spam"});
    QSignalSpy names(&Page(), &FiltersPage::filterNamesChanged);
    dialogs.AnswerLine(QString());
    dialogs.AnswerLine("SPAM");
    dialogs.AnswerLine("a/b");
    dialogs.AnswerLine("News");
    Click("butNewFilter");

    ASSERT_EQ(dialogs.shown.size(), 4u);
    const QString prompts[] = {"Enter a name for the filter.", "Please enter a name.",
                               "The name already exists. Please select a new one.",
                               "The filter name \"a/b\" is refused: the name must not hold "
                               "\"/\" or \"\\\"."};
    const QString texts[] = {"", "", "SPAM", "a/b"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dialogs.shown[i].caption, "New Filter");
        EXPECT_EQ(dialogs.shown[i].prompt, prompts[i]);
        EXPECT_EQ(dialogs.shown[i].text, texts[i]);
    }
    EXPECT_EQ(Stored("News", "Rules"), "");
    EXPECT_EQ(Entries("lstFilters"), QStringList({"News", "spam"}));
    EXPECT_EQ(Page().SelectedFilter(), "News");
    ASSERT_EQ(names.count(), 1);
    EXPECT_EQ(names.first().first().toStringList(), QStringList({"News", "spam"}));
    // Only the Mailboxes page puts a filter into the order.
    EXPECT_EQ(ReadRegString(Store(), MailboxKeyPath("home"), schema::Operation, "?"), "");
    for (const char* button : kRuleButtons)
        EXPECT_TRUE(Enabled(button)) << button;
    EXPECT_TRUE(Enabled("butDelFilter"));
}

TEST_F(FiltersPageTest, NewFilterCancelledOrWithoutAMailboxChangesNothing) {
    StartWith({});
    dialogs.AnswerLine(std::nullopt);
    Click("butNewFilter");
    EXPECT_TRUE(Entries("lstFilters").isEmpty());

    DeleteMailbox(Store(), "home");
    Window().Mailboxes().FillMailboxList(-1);
    Click("butNewFilter");
    EXPECT_EQ(dialogs.messages,
              QStringList({"Please choose or create a mailbox on the Mailboxes page first."}));
}

TEST_F(FiltersPageTest, RuleLinesAreBuiltByteForByte) {
    StartWith({"f"});
    ClickFilter("f");
    AddRule(0, "From", "contains", "bob");
    AddRule(1, "Subject", "does not contain", "x y`z");
    AddRule(2, "To", "contains", "");
    AddRule(1, "Size", "is greater than", "5000");
    AddRule(0, "Size", "is less than", "10");
    EXPECT_EQ(Stored("f", "Rules"), "      From contains `bob`\r\n"
                                    "AND   Subject does not contain `x y`z`\r\n"
                                    "OR    To contains ``\r\n"
                                    "AND   Size is greater than `5000`\r\n"
                                    "      Size is less than `10`\r\n");
    EXPECT_EQ(Entries("lstFilterConditions").size(), 5);
}

TEST_F(FiltersPageTest, TheComparisonsFollowTheField) {
    StartWith({});
    // Start-up selects "From" and "contains".
    EXPECT_EQ(Find<QComboBox>("cmbRulesField")->currentText(), "From");
    EXPECT_EQ(Find<QComboBox>("cmbRulesContains")->currentText(), "contains");
    Choose("cmbRulesContains", "does not contain");
    Choose("cmbRulesField", "Size");
    EXPECT_EQ(Entries("cmbRulesContains"), QStringList({"is greater than", "is less than"}));
    EXPECT_EQ(Find<QComboBox>("cmbRulesContains")->currentIndex(), 0);
    // Adding a field selects it, and its comparisons come with it.
    dialogs.AnswerLine("X-Spam");
    Click("butAddHeaderField");
    EXPECT_EQ(Find<QComboBox>("cmbRulesField")->currentText(), "X-Spam");
    EXPECT_EQ(Entries("cmbRulesContains"), QStringList({"contains", "does not contain"}));
}

TEST_F(FiltersPageTest, RuleListChangesRewriteTheWholeValue) {
    StartWith({"f"});
    StoreValue("f", "Rules", {"a", "b", "c"});
    ClickFilter("f");
    auto* rules = Find<QListWidget>("lstFilterConditions");
    const struct {
        const char* button;
        int selected;            // row selected before the click, -1 none
        const char* afterStored; // the stored Rules, lines joined by '|'
        int selectedAfter;
    } cases[] = {
        {"butUpFilterRule", 0, "a|b|c", -1},  // the first cannot move up: still rewritten
        {"butDownFilterRule", 2, "a|b|c", 2}, // nor the last down
        {"butDownFilterRule", -1, "a|b|c", -1},
        {"butDownFilterRule", 0, "b|a|c", 1},  // stays selected
        {"butUpFilterRule", 2, "b|c|a", -1},   // nothing selected afterwards
        {"butDelFilterRule", -1, "b|c|a", -1}, // nothing removed, still rewritten
        {"butDelFilterRule", 1, "b|a", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " on row " + std::to_string(c.selected));
        // What the store holds meanwhile is replaced by the list as shown.
        StoreValue("f", "Rules", {"other"});
        rules->clearSelection();
        if (c.selected >= 0) ClickRow("lstFilterConditions", c.selected);
        Click(c.button);
        EXPECT_EQ(Stored("f", "Rules"), ReplaceAll(c.afterStored, "|", "\r\n") + "\r\n");
        const auto selected = rules->selectedItems();
        EXPECT_EQ(selected.isEmpty() ? -1 : rules->row(selected.first()), c.selectedAfter);
    }
}

TEST_F(FiltersPageTest, InsertGoesBeforeTheSelectedRuleOrAtTheEnd) {
    StartWith({"f"});
    StoreValue("f", "Rules", {"a", "b"});
    ClickFilter("f");
    Find<QLineEdit>("edtCompText")->setText("x");
    ClickRow("lstFilterConditions", 1);
    Click("butInsFilterRule");
    Find<QListWidget>("lstFilterConditions")->clearSelection();
    Find<QLineEdit>("edtCompText")->setText("y");
    Click("butInsFilterRule");
    EXPECT_EQ(Stored("f", "Rules"),
              "a\r\n      From contains `x`\r\nb\r\n      From contains `y`\r\n");
}

TEST_F(FiltersPageTest, SimpleActionsAreAppendedAndTheProgramPathKeepsItsCase) {
    StartWith({"f"});
    ClickFilter("f");
    AddAction("Delete message");
    dialogs.AnswerFile("/opt/Mail Tools/Handle.SH");
    AddAction("Run external program");
    dialogs.AnswerFile(""); // cancelled: nothing added
    AddAction("Run external program");
    AddAction("Stop (go to next message)");
    EXPECT_EQ(Stored("f", "Actions"), "Delete message\r\n"
                                      "Ext prog: /opt/Mail Tools/Handle.SH\r\n"
                                      "Stop (go to next message)\r\n");
    EXPECT_EQ(dialogs.shown[0].kind, "open");
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FiltersPageTest, ASecondExtractionRoutineIsRefusedAndNothingIsStored) {
    StartWith({"f"});
    StoreValue("f", "Actions", {"extract TEXT from body"});
    ClickFilter("f");
    StoreValue("f", "Actions", {"stored meanwhile"});
    AddAction("Extract text from body");
    EXPECT_EQ(dialogs.messages, QStringList({"Text Extraction routine already exists.\r\nPlease "
                                             "use the \"Edit\" button if you want to modify it"}));
    EXPECT_EQ(Stored("f", "Actions"), "stored meanwhile\r\n");
}

TEST_F(FiltersPageTest, ActionsWithADialogOpenItAndStoreTheListAtOnce) {
    StartWith({"f"});
    home.Write("m00001.dat", "From: a\r\n");
    home.Write("d00002.dat", "out.txt\r\n");
    StoreValue("f", "Actions",
               {"Fwd to: {From}", "Send msg: m00001", "Save data: d00002", "Delete message"});
    ClickFilter("f");
    const struct {
        const char* kind;
        const char* dialog;
        QString caption;
    } adds[] = {{"Forward message", "frmQuery", "Forward message"},
                {"Send new email message", "frmQuery", "Send new message"},
                {"Save data to file", "frmQuery", "Save data to file"},
                {"Extract text from body", "frmTextProc", "Extract text from message body"}};
    for (const auto& add : adds) {
        SCOPED_TRACE(add.kind);
        StoreValue("f", "Actions", {"stored meanwhile"});
        AddAction(add.kind);
        auto* dialog = Find<QWidget>(add.dialog);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->windowTitle(), add.caption);
        dialog->hide();
        // Stored while the dialog is still open, as the page shows it.
        EXPECT_EQ(Stored("f", "Actions"), "Fwd to: {From}\r\nSend msg: m00001\r\n"
                                          "Save data: d00002\r\nDelete message\r\n");
    }
    const QString edits[] = {"Forward message (edit)", "Send new message (edit)",
                             "Save data to file (edit)"};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        ClickRow("lstActions", row);
        Click("butEditActions");
        EXPECT_TRUE(Find<QWidget>("frmQuery")->isVisible());
        EXPECT_EQ(Find<QWidget>("frmQuery")->windowTitle(), edits[row]);
        Find<QWidget>("frmQuery")->hide();
    }
    // A line without a dialog is changed by deleting and adding.
    ClickRow("lstActions", 3);
    Click("butEditActions");
    EXPECT_FALSE(Find<QWidget>("frmQuery")->isVisible());
    EXPECT_FALSE(Find<QWidget>("frmTextProc")->isVisible());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FiltersPageTest, ActionListChangesAndTheEditButton) {
    StartWith({"f"});
    home.Write("m00001.dat", "template\r\n");
    StoreValue("f", "Actions", {"Delete message", "Send msg: m00001", "Stop (go to next message)"});
    ClickFilter("f");
    EXPECT_FALSE(Enabled("butEditActions"));
    ClickRow("lstActions", 0);
    EXPECT_TRUE(Enabled("butEditActions"));
    Click("ButDownActions");
    EXPECT_EQ(Stored("f", "Actions"),
              "Send msg: m00001\r\nDelete message\r\nStop (go to next message)\r\n");
    Click("butUpActions");
    EXPECT_EQ(Stored("f", "Actions"),
              "Delete message\r\nSend msg: m00001\r\nStop (go to next message)\r\n");
    ClickRow("lstActions", 1);
    Click("butDelActions");
    EXPECT_EQ(Stored("f", "Actions"), "Delete message\r\nStop (go to next message)\r\n");
    EXPECT_FALSE(home.Exists("m00001.dat"));
    EXPECT_FALSE(Enabled("butEditActions"));
}

TEST_F(FiltersPageTest, DeletingAFilterDeletesItsTemplateFilesOnly) {
    StartWith({"a", "b"});
    for (const char* file : {"m00001.dat", "d00002.dat", "m00003.dat", "office.dat"})
        home.Write(file, "x\r\n");
    // The last line names no template: a damaged line must not remove another file.
    StoreValue("a", "Actions",
               {"Send msg: m00001", "Delete message", "Save data: d00002", "Send msg: office"});
    WriteRegString(Store(), MailboxKeyPath("home"), schema::Operation, "a\r\n");
    ClickFilter("a");
    QSignalSpy names(&Page(), &FiltersPage::filterNamesChanged);
    Click("butDelFilter");

    EXPECT_EQ(Stored("a", "Rules"), "<absent>");
    EXPECT_FALSE(home.Exists("m00001.dat"));
    EXPECT_FALSE(home.Exists("d00002.dat"));
    EXPECT_TRUE(home.Exists("m00003.dat"));
    EXPECT_TRUE(home.Exists("office.dat"));
    EXPECT_EQ(ReadRegString(Store(), MailboxKeyPath("home"), schema::Operation, ""), "a\r\n");
    EXPECT_EQ(Entries("lstFilters"), QStringList({"b"}));
    ASSERT_EQ(names.count(), 1);
    EXPECT_EQ(names.first().first().toStringList(), QStringList({"b"}));
    // Nothing is selected, so nothing can be written to the deleted filter.
    EXPECT_TRUE(Entries("lstFilterConditions").isEmpty());
    EXPECT_TRUE(Entries("lstActions").isEmpty());
    EXPECT_FALSE(Enabled("butDelFilter"));
    for (const char* button : kRuleButtons)
        EXPECT_FALSE(Enabled(button)) << button;
    for (const char* button : kActionButtons)
        EXPECT_FALSE(Enabled(button)) << button;
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FiltersPageTest, AnotherMailboxEmptiesTheListsAndDisablesTheButtons) {
    StartWith({"f"});
    CreateMailbox(Store(), "work", {});
    CreateFilter(Store(), "work", "w2");
    CreateFilter(Store(), "work", "W1");
    StoreValue("f", "Rules", {"a"});
    StoreValue("f", "Actions", {"Delete message"});
    ClickFilter("f");
    ClickRow("lstActions", 0);

    Window().Mailboxes().FillMailboxList(1);
    Page().ShowFilters();
    EXPECT_EQ(Entries("lstFilters"), QStringList({"W1", "w2"}));
    EXPECT_EQ(Page().SelectedFilter(), "");
    EXPECT_TRUE(Entries("lstFilterConditions").isEmpty());
    EXPECT_TRUE(Entries("lstActions").isEmpty());
    for (const char* button : kRuleButtons)
        EXPECT_FALSE(Enabled(button)) << button;
    for (const char* button : kActionButtons)
        EXPECT_FALSE(Enabled(button)) << button;
    EXPECT_FALSE(Enabled("butEditActions"));
    EXPECT_FALSE(Enabled("butDelFilter"));

    Page().ClearFilters();
    EXPECT_TRUE(Entries("lstFilters").isEmpty());
}

TEST_F(FiltersPageTest, HeaderFieldsAreAddedSortedAndOnlyUserNamesRemoved) {
    StartWith({"f"});
    StoreValue("f", "TextVarNames", {"order", "Total"});
    ClickFilter("f");
    dialogs.AnswerLine("x-spam");
    dialogs.AnswerLine("subject");
    dialogs.AnswerLine("List-Id");
    Click("butAddHeaderField");
    Click("butAddHeaderField");
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[2].prompt, "The name already exists. Please select a new one.");
    EXPECT_EQ(dialogs.shown[2].caption, "New Header Field");
    EXPECT_EQ(dialogs.shown[2].text, "subject");
    const std::string withBoth = "Bcc\r\nCc\r\nFrom\r\nList-Id\r\nOriginator\r\nRecipients\r\n"
                                 "Reply-To\r\nReturn-Path\r\nSize\r\nSubject\r\nTo\r\nx-spam\r\n";
    EXPECT_EQ(StoredString("HeaderFields"), withBoth);
    EXPECT_EQ(Find<QComboBox>("cmbRulesField")->currentText(), "List-Id");
    const std::vector<std::string> variables = {
        "Bcc",  "Cc",      "From", "List-Id", "Originator", "Recipients", "Reply-To", "Return-Path",
        "Size", "Subject", "To",   "x-spam",  "Header",     "Body",       "order",    "Total"};
    EXPECT_EQ(Page().VariableNames(), variables);
    EXPECT_EQ(App().Context().ui.HeaderFieldNames().size(), 12u);

    for (const char* name : {"Size", "From", "Subject"}) {
        Choose("cmbRulesField", name);
        Click("butDelHeaderField");
        EXPECT_EQ(StoredString("HeaderFields"), withBoth) << name;
    }
    QSignalSpy rebuilt(&Page(), &FiltersPage::variableNamesChanged);
    Choose("cmbRulesField", "x-spam");
    Click("butDelHeaderField");
    EXPECT_EQ(StoredString("HeaderFields"), ReplaceAll(withBoth, "x-spam\r\n", ""));
    EXPECT_EQ(Find<QComboBox>("cmbRulesField")->currentText(), "Bcc");
    EXPECT_EQ(rebuilt.count(), 1);
    EXPECT_EQ(Page().VariableNames().size(), variables.size() - 1);
}

TEST_F(FiltersPageTest, StartUpLoadsTheStoredHeaderFieldsAndTheShownMailboxsFilters) {
    StorePosition();
    StoreString("HeaderFields", "X-B\r\nFrom\r\nx-a\r\nSubject\r\n");
    CreateMailbox(Store(), "home", {});
    CreateFilter(Store(), "home", "b");
    CreateFilter(Store(), "home", "A");
    Start();
    EXPECT_EQ(Entries("cmbRulesField"), QStringList({"From", "Subject", "x-a", "X-B"}));
    EXPECT_EQ(Find<QComboBox>("cmbRulesField")->currentText(), "From");
    EXPECT_EQ(Entries("lstFilters"), QStringList({"A", "b"}));
    EXPECT_EQ(Page().SelectedFilter(), "");
    EXPECT_EQ(Find<QComboBox>("cmbResponse")->currentText(), "Delete message");
}

TEST_F(FiltersPageTest, AStoreErrorWhileLoadingIsShownAndKeepsWhatWasLoaded) {
    StartWith({"f"});
    StoreValue("f", "Rules", {"a"});
    ConfigStore filter(Store());
    filter.OpenKey(FilterKeyPath("home", "f"), false);
    filter.WriteInteger("Actions", 3);
    ClickFilter("f");
    EXPECT_EQ(dialogs.messages, QStringList({"Invalid data type for 'Actions'"}));
    EXPECT_EQ(Entries("lstFilterConditions"), QStringList({"a"}));
}

TEST_F(FiltersPageTest, TheStoredBytesSurviveAnEditOfTheList) {
    StartWith({"f"});
    // Not UTF-8: shown with a replacement character, but stored again unchanged.
    StoreValue("f", "Rules", {"      Subject contains `caf\xe9`"});
    ClickFilter("f");
    Click("butAddFilterRule");
    EXPECT_EQ(Stored("f", "Rules"),
              "      Subject contains `caf\xe9`\r\n      From contains ``\r\n");
}

TEST_F(FiltersPageTest, ALineBreakCannotEnterARuleOrAHeaderFieldName) {
    StartWith({"f"});
    ClickFilter("f");
    // A pasted text keeps its line breaks in the field.
    Find<QLineEdit>("edtCompText")->setText("a\nb");
    Click("butAddFilterRule");
    Click("butInsFilterRule");
    EXPECT_EQ(dialogs.messages, QStringList(2, "The comparison text must not hold a line break."));
    EXPECT_EQ(Stored("f", "Rules"), "");

    dialogs.shown.clear();
    dialogs.AnswerLine("X-\nInjected");
    dialogs.AnswerLine(std::nullopt);
    Click("butAddHeaderField");
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].prompt, "A header field name must not hold control characters.");
    EXPECT_EQ(dialogs.shown[1].text, "X-\nInjected");
    EXPECT_EQ(StoredString("HeaderFields"), std::nullopt);
}

} // namespace
} // namespace zelm::test
