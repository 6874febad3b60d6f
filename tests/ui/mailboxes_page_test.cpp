#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "core/config_store.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "messages/cache_journal.h"
#include "messages/data_file.h"
#include "session/session_driver.h"
#include "tests/ui/window_fixture.h"
#include "ui/filters_page.h"
#include "ui/mailboxes_page.h"

namespace zelm::test {
namespace {

constexpr const char* kAbsent = "<absent>";
constexpr const char* kListAndSizeFlags[] = {
    schema::AcceptListEnabled, schema::RejectListEnabled, schema::LimitMessageSizeEnabled,
    schema::ForwardToEnabled,  schema::BounceEnabled,     schema::DeleteEnabled};

class MailboxesPageTest : public WindowFixture {
protected:
    MailboxesPage& Page() { return Window().Mailboxes(); }

    /// A mailbox as a person would have left it, with its own ports and a sender.
    void StoreMailbox(const char* name, const char* host) {
        CreateMailbox(Store(), name, {false, "250", host, std::string("smtp.") + host});
        const std::string key = MailboxKeyPath(name);
        WriteRegString(Store(), key, schema::UserID, std::string("user-") + name);
        WriteRegString(Store(), key, schema::Password, ScramblePassword("secret"));
        WriteRegString(Store(), key, schema::Port, "1110");
        WriteRegString(Store(), key, schema::SMTPPort, "2525");
        WriteRegString(Store(), key, schema::SMTPFrom, std::string("me@") + host);
    }
    /// A string value as stored, "<absent>" when there is none.
    std::string Stored(const char* mailbox, const char* value) {
        ConfigStore key(Store());
        if (!key.OpenKey(MailboxKeyPath(mailbox), false) || !key.ValueExists(value)) return kAbsent;
        return key.ReadString(value);
    }
    /// A flag as stored: "1", "0" or "<absent>".
    std::string StoredFlag(const char* mailbox, const char* value) {
        ConfigStore key(Store());
        if (!key.OpenKey(MailboxKeyPath(mailbox), false) || !key.ValueExists(value)) return kAbsent;
        return key.ReadBool(value) ? "1" : "0";
    }
    bool MailboxKeyExists(const std::string& name) {
        ConfigStore key(Store());
        return key.OpenKey(MailboxKeyPath(name), false);
    }
    QString Text(const char* field) { return Find<QLineEdit>(field)->text(); }
    bool Checked(const char* box) { return Find<QCheckBox>(box)->isChecked(); }
    /// Picks the combo box's entry with that text as a person would.
    void Choose(const char* comboName, const QString& text) {
        auto* combo = Find<QComboBox>(comboName);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << comboName << " has no entry " << text.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
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
    void SelectOperationRow(int row) {
        auto* list = Find<QListWidget>("lstOperation");
        list->clearSelection();
        if (row < 0) return;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
    }
};

TEST_F(MailboxesPageTest, TheListIsSortedWithoutRegardToCaseAndStartUpShowsTheFirst) {
    StoreMailbox("beta", "b.example");
    StoreMailbox("Alpha", "a.example");
    StoreMailbox("gamma", "g.example");
    Start();
    EXPECT_EQ(Entries("cmbMailbox"), QStringList({"Alpha", "beta", "gamma"}));
    EXPECT_EQ(Page().SelectedMailbox(), "Alpha");
    EXPECT_EQ(Text("edtHost"), "a.example");
    // At start-up an absent cache shows "100"; a stored one as stored.
    EXPECT_EQ(Text("edtCache"), "250");
}

TEST_F(MailboxesPageTest, NewMailboxRefusesEmptyDuplicateAndProgramNamesKeepingTheText) {
    StoreMailbox("Home", "pop.example");
    Start();
    dialogs.AnswerLine(QString());
    dialogs.AnswerLine("HOME");
    dialogs.AnswerLine("work.jnl");
    dialogs.AnswerLine("a/b");
    dialogs.AnswerLine(" work ");
    Click("butSaveMailbox");

    ASSERT_EQ(dialogs.shown.size(), 5u);
    const QString prompts[] = {
        "Enter mailbox name.", "Please enter a name.",
        "The name already exists. Please select a new one.",
        "The mailbox name \"work.jnl\" is refused: the name is kept for the program's own files.",
        "The mailbox name \"a/b\" is refused: the name must not hold \"/\" or \"\\\"."};
    const QString texts[] = {"", "", "HOME", "work.jnl", "a/b"};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dialogs.shown[i].caption, "New mailbox");
        EXPECT_EQ(dialogs.shown[i].prompt, prompts[i]);
        EXPECT_EQ(dialogs.shown[i].text, texts[i]);
    }
    // The name is taken as typed, blanks and all.
    EXPECT_EQ(Page().SelectedMailbox(), " work ");
    EXPECT_TRUE(MailboxKeyExists(" work "));
    EXPECT_FALSE(MailboxKeyExists("work.jnl"));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
}

TEST_F(MailboxesPageTest, NewMailboxTakesTheShownValuesAndStoresThePlainPorts) {
    StoreMailbox("Home", "pop.example");
    WriteRegString(Store(), MailboxKeyPath("Home"), schema::Operation, "f\r\n");
    CreateFilter(Store(), "Home", "f");
    Start();
    ASSERT_EQ(Entries("lstOperation"), QStringList({"f"}));
    ASSERT_EQ(Entries("cmbOperation"), QStringList({"f"}));
    TypeAndLeave("edtLimitSize", "5000");
    Choose("cmbPop3Security", "STARTTLS");
    dialogs.AnswerLine("inbox");
    Click("butSaveMailbox");

    EXPECT_EQ(Entries("cmbMailbox"), QStringList({"Home", "inbox"}));
    EXPECT_EQ(Page().SelectedMailbox(), "inbox");
    const struct {
        const char* value;
        const char* stored;
    } expected[] = {{schema::Cache, "250"},       {schema::Host, "pop.example"},
                    {schema::UserID, ""},         {schema::Password, ""},
                    {schema::Port, "110"},        {schema::SMTPHost, "smtp.pop.example"},
                    {schema::SMTPPort, "25"},     {schema::SMTPFrom, ""},
                    {schema::LimitSize, kAbsent}, {schema::Pop3Security, kAbsent}};
    for (const auto& e : expected)
        EXPECT_EQ(Stored("inbox", e.value), e.stored) << e.value;
    EXPECT_EQ(StoredFlag("inbox", schema::MailboxEnabled), "0");
    // The ports and the size limit keep what they showed; the rest shows what was stored.
    EXPECT_EQ(Text("edtPort"), "1110");
    EXPECT_EQ(Text("edtSMTPPort"), "2525");
    EXPECT_EQ(Text("edtLimitSize"), "5000");
    EXPECT_EQ(Text("edtUserID"), "");
    EXPECT_EQ(Text("edtPassword"), "");
    EXPECT_EQ(Text("edtSMTPFrom"), "");
    EXPECT_EQ(Find<QComboBox>("cmbPop3Security")->currentText(), "None");
    EXPECT_TRUE(Entries("lstOperation").isEmpty());
    EXPECT_TRUE(Entries("cmbOperation").isEmpty());
    EXPECT_TRUE(Entries("lstFilters").isEmpty());
    EXPECT_FALSE(Find<QPushButton>("butDelFilter")->isEnabled());
}

TEST_F(MailboxesPageTest, ChoosingAMailboxShowsItsValuesAndWritesBackTheFlagsItShowsChecked) {
    StoreMailbox("a", "a.example");
    // "b" was made elsewhere: no flags, no cache.
    WriteRegString(Store(), MailboxKeyPath("b"), schema::Host, "b.example");
    WriteRegString(Store(), MailboxKeyPath("b"), schema::Password, ScramblePassword("pw"));
    for (const char* flag : kListAndSizeFlags)
        WriteRegBool(Store(), MailboxKeyPath("a"), flag, false);
    CreateFilter(Store(), "b", "zeta");
    CreateFilter(Store(), "b", "Alpha");
    Start();
    ASSERT_FALSE(Checked("chkEnMailbox"));
    Choose("cmbMailbox", "b");

    EXPECT_EQ(Text("edtHost"), "b.example");
    EXPECT_EQ(Text("edtPassword"), "pw");
    EXPECT_EQ(Find<QLineEdit>("edtPassword")->displayText(), "**");
    EXPECT_EQ(Text("edtCache"), ""); // not "100": that is only at start-up
    EXPECT_EQ(Text("edtPort"), "");
    EXPECT_EQ(Text("edtSMTPFrom"), "");
    // Every flag shows checked; those whose box changed were written back.
    for (const char* box : {"chkEnMailbox", "chkEnableAccept", "chkEnableReject", "chkLimitSize",
                            "chkForward", "chkBounce", "chkDelete"})
        EXPECT_TRUE(Checked(box)) << box;
    EXPECT_EQ(StoredFlag("b", schema::MailboxEnabled), "1");
    for (const char* flag : kListAndSizeFlags)
        EXPECT_EQ(StoredFlag("b", flag), "1") << flag;
    // Its filters, on both pages.
    EXPECT_EQ(Entries("lstFilters"), QStringList({"Alpha", "zeta"}));
    EXPECT_EQ(Entries("cmbOperation"), QStringList({"Alpha", "zeta"}));
    EXPECT_EQ(Find<QComboBox>("cmbOperation")->currentText(), "Alpha");
    // Nothing was written to "a".
    for (const char* flag : kListAndSizeFlags)
        EXPECT_EQ(StoredFlag("a", flag), "0") << flag;
}

TEST_F(MailboxesPageTest, AFlagOfTheWrongTypeIsShownAsAnErrorAndTheFieldsBeforeItStay) {
    StoreMailbox("a", "a.example");
    StoreMailbox("b", "b.example");
    WriteRegString(Store(), MailboxKeyPath("b"), schema::AcceptListEnabled, "yes");
    Start();
    Choose("cmbMailbox", "b");
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(Text("edtHost"), "b.example");
    EXPECT_EQ(Text("edtSMTPFrom"), "me@b.example");
}

TEST_F(MailboxesPageTest, LeavingAFieldStoresItAsTyped) {
    StoreMailbox("a", "a.example");
    Start();
    const struct {
        const char* field;
        const char* value;
        QString typed;
        std::string stored;
    } cases[] = {
        {"edtCache", schema::Cache, "x12", "x12"},
        {"edtHost", schema::Host, "pop.example ", "pop.example "},
        {"edtUserID", schema::UserID, "ann", "ann"},
        {"edtPassword", schema::Password, "pass word", ScramblePassword("pass word")},
        {"edtPort", schema::Port, "", ""},
        {"edtSMTPHost", schema::SMTPHost, "smtp.example", "smtp.example"},
        {"edtSMTPPort", schema::SMTPPort, "587", "587"},
        {"edtSMTPFrom", schema::SMTPFrom, "Ann <ann@example.org>", "Ann <ann@example.org>"},
        {"edtSMTPUserID", schema::SMTPUserID, "ann@example.org", "ann@example.org"},
        {"edtSMTPPassword", schema::SMTPPassword, "app pw", ScramblePassword("app pw")},
        {"edtLimitSize", schema::LimitSize, "40000", "40000"},
    };
    Click("chkSMTPAuth"); // the SMTP user and password are used only with it
    EXPECT_EQ(StoredFlag("a", schema::SMTPAuth), "1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        TypeAndLeave(c.field, c.typed);
        EXPECT_EQ(Stored("a", c.value), c.stored);
    }
    const struct {
        const char* box;
        const char* value;
    } boxes[] = {{"chkEnMailbox", schema::MailboxEnabled},
                 {"chkLimitSize", schema::LimitMessageSizeEnabled},
                 {"chkSMTPAuth", schema::SMTPAuth}};
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.box);
        const bool before = Checked(b.box);
        Click(b.box);
        EXPECT_EQ(StoredFlag("a", b.value), before ? "0" : "1");
    }
    EXPECT_FALSE(Find<QLineEdit>("edtSMTPUserID")->isEnabled());
}

TEST_F(MailboxesPageTest, AFieldLeftUnchangedKeepsBytesThatAreNotUtf8AndStartStoresTheEdited) {
    StoreMailbox("a", "a.example");
    WriteRegBool(Store(), MailboxKeyPath("a"), schema::MailboxEnabled, false);
    WriteRegString(Store(), MailboxKeyPath("a"), schema::Password, ScramblePassword("p\xe4ss"));
    Start();
    Find<QLineEdit>("edtPassword")->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(Find<QLineEdit>("edtPassword"), Qt::Key_Tab);
    EXPECT_EQ(UnscramblePassword(Stored("a", schema::Password)), "p\xe4ss");

    // Manual Start pressed by a screen reader, which moves no focus, still leaves the field
    // being edited first, so the session sees what it shows.
    auto* host = Find<QLineEdit>("edtHost");
    host->setFocus(Qt::MouseFocusReason);
    host->selectAll();
    QTest::keyClicks(host, "pop.example.net");
    Find<QPushButton>("butStart")->click();
    EXPECT_EQ(Stored("a", schema::Host), "pop.example.net");
}

TEST_F(MailboxesPageTest, WithoutAMailboxNothingIsStored) {
    Start();
    ASSERT_TRUE(Page().SelectedMailbox().isEmpty());
    // The page as before any mailbox is loaded.
    EXPECT_TRUE(Checked("chkEnMailbox"));
    EXPECT_FALSE(Checked("chkLimitSize"));
    EXPECT_EQ(Text("edtCache"), "100");
    EXPECT_EQ(Text("edtPort"), "110");
    EXPECT_EQ(Text("edtSMTPPort"), "25");
    for (const char* field : {"edtHost", "edtPassword", "edtLimitSize"})
        TypeAndLeave(field, "x");
    for (const char* box : {"chkEnMailbox", "chkLimitSize", "chkSMTPAuth", "butAddOperation"})
        Click(box);
    Choose("cmbPop3Security", "SSL/TLS");
    EXPECT_TRUE(SortedMailboxNames(Store()).empty());
    // Nor on the key above the mailboxes, which an empty name would address.
    ConfigStore mailboxes(Store());
    std::vector<std::string> values;
    if (mailboxes.OpenKey(MailboxKeyPath(""), false)) mailboxes.GetValueNames(values);
    EXPECT_TRUE(values.empty());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
}

TEST_F(MailboxesPageTest, DeletingRemovesKeyDataFileAndJournalAndShowsTheFirstLeft) {
    StoreMailbox("a", "a.example");
    StoreMailbox("b", "b.example");
    CreateFilter(Store(), "a", "f");
    const std::string programDir = home.Path();
    home.Write("b.dat", "[Accept List]\r\nx\r\n\r\n####\r\n");
    home.Write("b.jnl", "cache 1\r\n");
    std::filesystem::create_directory(OutboxFolder(programDir, "b"));
    Start();
    Choose("cmbMailbox", "b");
    Click("butDelMailbox");

    EXPECT_TRUE(dialogs.shown.empty()); // nothing is asked
    EXPECT_FALSE(MailboxKeyExists("b"));
    EXPECT_FALSE(std::filesystem::exists(DataFilePath(programDir, "b")));
    EXPECT_FALSE(std::filesystem::exists(JournalFilePath(programDir, "b")));
    EXPECT_TRUE(std::filesystem::exists(OutboxFolder(programDir, "b")));
    EXPECT_EQ(Entries("cmbMailbox"), QStringList({"a"}));
    EXPECT_EQ(Page().SelectedMailbox(), "a");
    EXPECT_EQ(Text("edtHost"), "a.example");
    EXPECT_EQ(Entries("lstFilters"), QStringList({"f"}));
}

TEST_F(MailboxesPageTest, DeletingTheOnlyMailboxClearsThePageAndCreatesNoKey) {
    StoreMailbox("a", "a.example");
    WriteRegString(Store(), MailboxKeyPath("a"), schema::Operation, "f\r\n");
    Start();
    Click("butDelMailbox");
    EXPECT_TRUE(Entries("cmbMailbox").isEmpty());
    EXPECT_TRUE(Page().SelectedMailbox().isEmpty());
    for (const char* field : {"edtCache", "edtHost", "edtUserID", "edtPassword", "edtPort",
                              "edtSMTPHost", "edtSMTPPort", "edtSMTPFrom", "edtLimitSize"})
        EXPECT_EQ(Text(field), "") << field;
    for (const char* box : {"chkEnMailbox", "chkLimitSize", "chkEnableAccept", "chkEnableReject",
                            "chkForward", "chkBounce", "chkDelete"})
        EXPECT_TRUE(Checked(box)) << box;
    EXPECT_TRUE(Entries("lstOperation").isEmpty());
    EXPECT_TRUE(SortedMailboxNames(Store()).empty());
    // A second press with nothing selected does nothing.
    Click("butDelMailbox");
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
}

TEST_F(MailboxesPageTest, TheFilterOrderIsRewrittenWholeAfterEveryChange) {
    StoreMailbox("a", "a.example");
    for (const char* filter : {"f", "g"})
        CreateFilter(Store(), "a", filter);
    Start();
    const struct {
        const char* button;
        const char* choice;      // chosen in cmbOperation
        int selected;            // row selected before the click, -1 none
        const char* afterStored; // the stored Operation, lines joined by '|'
        int selectedAfter;
    } cases[] = {
        {"butAddOperation", "f", -1, "f", -1},
        {"butAddOperation", "f", -1, "f|f", -1}, // the same filter twice
        {"butInsOperation", "g", 1, "f|g|f", 2},
        {"butInsOperation", "g", -1, "f|g|f|g", -1}, // nothing selected: appended
        {"butUpOperation", "f", 0, "f|g|f|g", -1},   // the first cannot move up: rewritten
        {"butDownOperation", "f", 3, "f|g|f|g", 3},  // nor the last down
        {"butDownOperation", "f", 0, "g|f|f|g", 1},  // stays selected
        {"butUpOperation", "f", 3, "g|f|g|f", -1},
        {"butDelOperation", "f", -1, "g|f|g|f", -1}, // nothing selected: nothing removed
        {"butDelOperation", "f", 0, "f|g|f", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " on row " + std::to_string(c.selected));
        // What the store holds meanwhile is replaced by the list as shown.
        WriteRegString(Store(), MailboxKeyPath("a"), schema::Operation, "other\r\n");
        Choose("cmbOperation", c.choice);
        SelectOperationRow(c.selected);
        Click(c.button);
        EXPECT_EQ(Stored("a", schema::Operation), ReplaceAll(c.afterStored, "|", "\r\n") + "\r\n");
        EXPECT_EQ(Entries("lstOperation").join('|').toStdString(), c.afterStored);
        auto* list = Find<QListWidget>("lstOperation");
        EXPECT_EQ(list->selectedItems().isEmpty() ? -1 : list->currentRow(), c.selectedAfter);
    }
}

TEST_F(MailboxesPageTest, TheFilterChoiceFollowsTheFiltersPage) {
    StoreMailbox("a", "a.example");
    Start();
    EXPECT_TRUE(Entries("cmbOperation").isEmpty());
    // A mailbox without filters adds an empty entry, which a session passes over.
    Click("butAddOperation");
    EXPECT_EQ(Stored("a", schema::Operation), "\r\n");
    Find<QTabWidget>("pgcMain")->setCurrentWidget(&Window().Filters());
    dialogs.AnswerLine("spam");
    Click("butNewFilter");
    dialogs.AnswerLine("News");
    Click("butNewFilter");
    EXPECT_EQ(Entries("cmbOperation"), QStringList({"News", "spam"}));
    Click("butDelFilter"); // "News", selected as it was made
    EXPECT_EQ(Entries("cmbOperation"), QStringList({"spam"}));
}

TEST_F(MailboxesPageTest, ChoosingTlsOffersItsUsualPortAndPlainTakesThePlainOneBack) {
    StoreMailbox("a", "a.example");
    Start();
    const struct {
        const char* choice;
        const char* security;
        const char* port;
        const char* shownBefore;
        const char* shownAfter;
        const char* storedValue;
    } cases[] = {
        {"cmbPop3Security", "SSL/TLS", "edtPort", "110", "995", "tls"},
        {"cmbPop3Security", "None", "edtPort", "995", "110", "none"},
        {"cmbPop3Security", "STARTTLS", "edtPort", "995", "110", "starttls"},
        {"cmbPop3Security", "SSL/TLS", "edtPort", "1110", "1110", "tls"}, // typed: kept
        {"cmbSMTPSecurity", "SSL/TLS", "edtSMTPPort", "25", "465", "tls"},
        {"cmbSMTPSecurity", "STARTTLS", "edtSMTPPort", "587", "587", "starttls"},
        {"cmbSMTPSecurity", "None", "edtSMTPPort", "465", "25", "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.choice) + " " + c.security + " on " + c.shownBefore);
        Find<QLineEdit>(c.port)->setText(c.shownBefore);
        Choose(c.choice, c.security);
        EXPECT_EQ(Text(c.port), c.shownAfter);
        const bool pop3 = std::string(c.port) == "edtPort";
        EXPECT_EQ(Stored("a", pop3 ? schema::Pop3Security : schema::SMTPSecurity), c.storedValue);
        // An offered port is stored as if typed; a kept one waits for the field to be left.
        EXPECT_EQ(Stored("a", pop3 ? schema::Port : schema::SMTPPort),
                  std::string(c.shownBefore) == c.shownAfter ? (pop3 ? "1110" : "2525")
                                                             : c.shownAfter);
        WriteRegString(Store(), MailboxKeyPath("a"), pop3 ? schema::Port : schema::SMTPPort,
                       pop3 ? "1110" : "2525");
    }
    // Shown again from the store.
    Choose("cmbMailbox", "a");
    EXPECT_EQ(Find<QComboBox>("cmbPop3Security")->currentText(), "SSL/TLS");
    EXPECT_EQ(Find<QComboBox>("cmbSMTPSecurity")->currentText(), "None");
}

} // namespace
} // namespace zelm::test
