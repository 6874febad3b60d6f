#include <optional>
#include <string>
#include <vector>

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "tests/ui/action_dialog_fixture.h"
#include "ui/frm_query.h"
#include "ui/frm_text_proc.h"

namespace zelm::test {
namespace {

class TfrmTextProcTest : public ActionDialogFixture {
protected:
    TfrmTextProc& Editor() { return Window().TextProc(); }
    /// Adds the command, answering its input boxes (if any) in turn.
    void AddCommand(const char* command, std::vector<std::optional<QString>> answers = {}) {
        for (auto& answer : answers)
            dialogs.AnswerLine(std::move(answer));
        Choose("cmbTextProc", command);
        Click("butAddText");
    }
    QStringList Routine() { return Entries("lstTextActions"); }
    int SelectedRoutineRow() {
        const auto selected = Find<QListWidget>("lstTextActions")->selectedItems();
        return selected.isEmpty() ? -1 : Find<QListWidget>("lstTextActions")->row(selected.first());
    }
};

TEST_F(TfrmTextProcTest, OpensOnTheFiltersRoutineWithTheSortedCommands) {
    StartOnFilter();
    StoreFilterValue("TextExtract", {"Go to msg start", "Text extraction start (a)"});
    AddAction("Extract text from body");
    ASSERT_TRUE(Editor().isVisible());
    EXPECT_EQ(Editor().windowTitle(), "Extract text from message body");
    EXPECT_EQ(Entries("cmbTextProc"),
              QStringList({"Back # of chars", "Back # of lines", "Forward # of chars",
                           "Forward # of lines", "Go to line end", "Go to line start",
                           "Go to msg end", "Go to msg start", "Go to string in line",
                           "Go to string in msg", "Text extraction end", "Text extraction start"}));
    EXPECT_EQ(Find<QComboBox>("cmbTextProc")->currentIndex(), 0);
    EXPECT_EQ(Routine(), QStringList({"Go to msg start", "Text extraction start (a)"}));
    EXPECT_EQ(Editor().pos(), Window().pos() + QPoint(150, 50));
    // Opening stores the action list as it stands; the action line comes with OK.
    EXPECT_EQ(StoredFilterValue("Actions"), "");
}

TEST_F(TfrmTextProcTest, EachCommandAsksForItsArgumentAndCancelAddsNothing) {
    StartOnFilter();
    AddAction("Extract text from body");
    const struct {
        const char* command;
        std::optional<QString> answer; ///< nullopt: no input box
        bool cancel;
        QString caption, prompt, line;
    } cases[] = {
        {"Go to msg start", std::nullopt, false, "", "", "Go to msg start"},
        {"Go to line end", std::nullopt, false, "", "", "Go to line end"},
        {"Forward # of lines", "3", false, "Go forward # of lines", "Enter an integer",
         "Forward # of lines: 3"},
        {"Back # of chars", "many", false, "Go back # of chars", "Enter an integer",
         "Back # of chars: many"},
        {"Go to string in msg", "Order:", false, "Go to string in msg", "Search string",
         "Go to string in msg: Order:"},
        {"Go to string in line", "", false, "Go to string in line", "Search string",
         "Go to string in line: "},
        {"Forward # of chars", "", true, "Go forward # of chars", "Enter an integer", ""},
        {"Go to string in msg", "", true, "Go to string in msg", "Search string", ""},
    };
    QStringList expected;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.command);
        dialogs.shown.clear();
        if (row.answer || row.cancel) dialogs.AnswerLine(row.cancel ? std::nullopt : row.answer);
        Choose("cmbTextProc", row.command);
        Click("butAddText");
        if (row.answer || row.cancel) {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].caption, row.caption);
            EXPECT_EQ(dialogs.shown[0].prompt, row.prompt);
            EXPECT_EQ(dialogs.shown[0].text, "");
        } else {
            EXPECT_TRUE(dialogs.shown.empty());
        }
        if (!row.cancel) expected.append(row.line);
        EXPECT_EQ(Routine(), expected);
        EXPECT_EQ(SelectedRoutineRow(), expected.size() - 1);
    }
}

TEST_F(TfrmTextProcTest, AVariableNameMustBeNewAmongTheTemplateVariablesInAnyCase) {
    StartOnFilter({}, {"Total"});
    AddAction("Extract text from body");
    AddCommand("Text extraction start", {QString(), "body", "FROM", "header", "total", "order"});
    ASSERT_EQ(dialogs.shown.size(), 6u);
    const QString prompts[] = {"Enter a variable name to hold the extracted text.",
                               "Please enter a name.",
                               "The name already exists. Please select a new one.",
                               "The name already exists. Please select a new one.",
                               "The name already exists. Please select a new one.",
                               "The name already exists. Please select a new one."};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dialogs.shown[i].caption, "Text extraction start");
        EXPECT_EQ(dialogs.shown[i].prompt, prompts[i]);
    }
    EXPECT_EQ(dialogs.shown[0].text, "");
    EXPECT_EQ(dialogs.shown[3].text, "FROM");
    AddCommand("Text extraction end");
    EXPECT_EQ(Routine(),
              QStringList({"Text extraction start (order)", "Text extraction end (order)"}));

    // The name is kept for the program's life: the next start offers it, a cancel keeps it.
    Click("butTextCancel");
    AddAction("Extract text from body");
    dialogs.shown.clear();
    AddCommand("Text extraction start", {std::nullopt});
    EXPECT_EQ(dialogs.shown.at(0).text, "order");
    AddCommand("Text extraction end");
    EXPECT_EQ(Routine(), QStringList({"Text extraction end (order)"}));
    EXPECT_EQ(Editor().CurrentVariableName(), "order");
}

TEST_F(TfrmTextProcTest, OkStoresTheRoutineItsNamesAndTheActionLineOnlyWhenAdding) {
    StartOnFilter({"Delete message"});
    AddAction("Extract text from body");
    AddCommand("Text extraction start", {"a"});
    AddCommand("Go to line end");
    AddCommand("Text extraction end");
    AddCommand("Text extraction start", {"b"});
    AddCommand("Text extraction end");
    Click("butTextOK");
    EXPECT_FALSE(Editor().isVisible());
    EXPECT_EQ(StoredFilterValue("TextExtract"),
              "Text extraction start (a)\r\nGo to line end\r\nText extraction end (a)\r\n"
              "Text extraction start (b)\r\nText extraction end (b)\r\n");
    EXPECT_EQ(StoredFilterValue("TextVarNames"), "a\r\nb\r\n");
    EXPECT_EQ(StoredFilterValue("Actions"), "Delete message\r\nExtract text from body\r\n");
    // The template dialog offers the new names at once.
    AddAction("Send new email message");
    const QStringList variables = Entries("cmbVariables");
    EXPECT_EQ(variables.mid(variables.size() - 4), QStringList({"Header", "Body", "a", "b"}));
    Click("butQueryCancel");

    EditAction(1);
    EXPECT_EQ(Editor().windowTitle(), "Extract text from message body[edit]");
    ClickRow("lstTextActions", 1);
    Click("butDelText");
    Click("butTextOK");
    EXPECT_EQ(StoredFilterValue("TextExtract"),
              "Text extraction start (a)\r\nText extraction end (a)\r\n"
              "Text extraction start (b)\r\nText extraction end (b)\r\n");
    EXPECT_EQ(StoredFilterValue("Actions"), "Delete message\r\nExtract text from body\r\n");
    // Editing twice keeps one "[edit]".
    EditAction(1);
    EXPECT_EQ(Editor().windowTitle(), "Extract text from message body[edit]");
    Click("butTextCancel");
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(TfrmTextProcTest, UpDownAndDeleteChangeOnlyTheList) {
    StartOnFilter();
    StoreFilterValue("TextExtract", {"one", "two", "three"});
    AddAction("Extract text from body");
    ClickRow("lstTextActions", 0);
    Click("butUpText"); // the first stays first
    EXPECT_EQ(Routine(), QStringList({"one", "two", "three"}));
    Click("butDownText");
    EXPECT_EQ(Routine(), QStringList({"two", "one", "three"}));
    EXPECT_EQ(SelectedRoutineRow(), 1);
    Click("butDownText");
    Click("butDownText"); // the last stays last
    EXPECT_EQ(Routine(), QStringList({"two", "three", "one"}));
    EXPECT_EQ(SelectedRoutineRow(), 2);
    Click("butUpText");
    EXPECT_EQ(Routine(), QStringList({"two", "one", "three"}));
    Click("butDelText");
    EXPECT_EQ(Routine(), QStringList({"two", "three"}));
    Click("butDelText"); // nothing selected now
    EXPECT_EQ(Routine(), QStringList({"two", "three"}));
    Click("butTextCancel");
    EXPECT_EQ(StoredFilterValue("TextExtract"), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(StoredFilterValue("TextVarNames"), "");
    EXPECT_EQ(StoredFilterValue("Actions"), "");
}

} // namespace
} // namespace zelm::test
