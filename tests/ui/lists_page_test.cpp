#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "core/config_store.h"
#include "core/schema.h"
#include "session/session_driver.h"
#include "tests/ui/window_fixture.h"
#include "ui/frm_query.h"
#include "ui/lists_page.h"
#include "ui/mailboxes_page.h"

namespace zelm::test {
namespace {

class ListsPageTest : public WindowFixture {
protected:
    /// Starts on the mailbox "home" (created unless told otherwise) and shows the Lists page.
    void StartOnLists(bool withMailbox = true) {
        if (withMailbox) CreateMailbox(Store(), "home", {});
        Start();
        ShowLists();
    }
    void ShowLists() { Find<QTabWidget>("pgcMain")->setCurrentWidget(&Window().Lists()); }
    void ShowMailboxes() { Find<QTabWidget>("pgcMain")->setCurrentWidget(&Window().Mailboxes()); }
    QPlainTextEdit* Memo(const char* name) { return Find<QPlainTextEdit>(name); }
    /// Replaces the list's text by typing, then leaves it with Tab.
    void TypeListAndLeave(const char* name, const QString& text) {
        QPlainTextEdit* memo = Memo(name);
        memo->setFocus(Qt::MouseFocusReason);
        memo->selectAll();
        QTest::keyClick(memo, Qt::Key_Delete);
        for (const QString& line : text.split('\n')) {
            if (line != text.split('\n').first()) QTest::keyClick(memo, Qt::Key_Return);
            QTest::keyClicks(memo, line);
        }
        QTest::keyClick(memo, Qt::Key_Tab);
    }
    std::string StoredFlag(const char* value) {
        ConfigStore key(Store());
        if (!key.OpenKey(MailboxKeyPath("home"), false) || !key.ValueExists(value))
            return "<absent>";
        return key.ReadBool(value) ? "1" : "0";
    }
    bool Shown(const char* name) { return !Find<QWidget>(name)->isHidden(); }
};

TEST_F(ListsPageTest, TheResponsesShowOnlyWithTheRejectListAndTheirBoxes) {
    StartOnLists();
    // As loaded, "home" has no flags: all checked, all shown.
    for (const char* name : {"chkForward", "edtForward", "chkBounce", "butBounceMsg", "chkDelete"})
        EXPECT_TRUE(Shown(name)) << name;
    const struct {
        bool reject, forward, bounce;
        bool boxes, address, button;
    } cases[] = {
        {true, true, true, true, true, true},       {true, false, true, true, false, true},
        {true, true, false, true, true, false},     {false, true, true, false, false, false},
        {false, false, false, false, false, false}, {true, false, false, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.reject << c.forward << c.bounce);
        // Clicked in this order so a click on a hidden box never happens.
        Find<QCheckBox>("chkEnableReject")->setChecked(true);
        for (const auto& [box, on] : {std::pair{"chkForward", c.forward}, {"chkBounce", c.bounce}})
            if (Find<QCheckBox>(box)->isChecked() != on) Click(box);
        if (!c.reject) Click("chkEnableReject");
        if (!c.reject) {
            EXPECT_EQ(StoredFlag(schema::RejectListEnabled), "0");
        }
        EXPECT_EQ(StoredFlag(schema::ForwardToEnabled), c.forward ? "1" : "0");
        EXPECT_EQ(StoredFlag(schema::BounceEnabled), c.bounce ? "1" : "0");
        for (const char* box : {"chkForward", "chkBounce", "chkDelete"})
            EXPECT_EQ(Shown(box), c.boxes) << box;
        EXPECT_EQ(Shown("edtForward"), c.address);
        EXPECT_EQ(Shown("butBounceMsg"), c.button);
    }
}

TEST_F(ListsPageTest, CustomMessageOpensTheTemplateDialogOnTheRejectText) {
    StartOnLists();
    if (!Find<QCheckBox>("chkBounce")->isChecked()) Click("chkBounce");
    ASSERT_TRUE(Shown("butBounceMsg"));
    Click("butBounceMsg");
    EXPECT_TRUE(Window().Query().isVisible());
    EXPECT_TRUE(Window().Query().findChild<QLineEdit*>("edtSubject")->isVisible());
}

TEST_F(ListsPageTest, AMailboxWithTheRejectListOffKeepsItsForwardHidden) {
    CreateMailbox(Store(), "home", {});
    WriteRegBool(Store(), MailboxKeyPath("home"), schema::RejectListEnabled, false);
    WriteRegBool(Store(), MailboxKeyPath("home"), schema::ForwardToEnabled, true);
    StartOnLists(false);
    EXPECT_FALSE(Find<QCheckBox>("chkEnableReject")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkForward")->isChecked());
    EXPECT_FALSE(Shown("chkForward"));
    EXPECT_FALSE(Shown("edtForward"));
}

TEST_F(ListsPageTest, ListsLoadWhenThePageShowsAndLeavingOneWritesItsSection) {
    CreateMailbox(Store(), "home", {});
    CreateMailbox(Store(), "work", {});
    home.Write("work.dat", "[Accept List]\r\nfriend@example.org\r\n@example.com\r\n\r\n####\r\n"
                           "[Reject List]\r\nspam\r\n\r\n####\r\n");
    StartOnLists(false);
    // "home" has no data file: two empty lists, and none is made by looking.
    EXPECT_EQ(Memo("memoAccept")->toPlainText(), "");
    EXPECT_EQ(Memo("memoReject")->toPlainText(), "");
    EXPECT_FALSE(home.Exists("home.dat"));

    TypeListAndLeave("memoReject", "bad@example.net\nworse");
    EXPECT_EQ(home.Read("home.dat"), "[Reject List]\r\nbad@example.net\r\nworse\r\n\r\n####\r\n");

    ShowMailboxes();
    auto* mailbox = Find<QComboBox>("cmbMailbox");
    mailbox->setCurrentIndex(mailbox->findText("work"));
    emit mailbox->activated(mailbox->currentIndex());
    ShowLists();
    EXPECT_EQ(Memo("memoAccept")->toPlainText(), "friend@example.org\n@example.com");
    EXPECT_EQ(Memo("memoReject")->toPlainText(), "spam");
    TypeListAndLeave("memoAccept", "");
    EXPECT_EQ(home.Read("work.dat"), "[Accept List]\r\n\r\n####\r\n"
                                     "[Reject List]\r\nspam\r\n\r\n####\r\n");
}

TEST_F(ListsPageTest, ListsAndAddressLeftUnchangedKeepBytesThatAreNotUtf8) {
    CreateMailbox(Store(), "home", {});
    WriteRegString(Store(), MailboxKeyPath("home"), schema::ForwardAddress, "j\xf6rg@example.org");
    const std::string file = "[Accept List]\r\nm\xfcller@example.org\r\n\r\n####\r\n";
    home.Write("home.dat", file);
    StartOnLists(false);
    Memo("memoAccept")->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(Memo("memoAccept"), Qt::Key_Tab);
    EXPECT_EQ(home.Read("home.dat").substr(0, file.size()), file);
    EXPECT_EQ(ReadRegString(Store(), MailboxKeyPath("home"), schema::ForwardAddress, "?"),
              "j\xf6rg@example.org");
}

TEST_F(ListsPageTest, TheForwardAddressIsStoredAtEveryChangeAndTheSwitchesAtEveryClick) {
    StartOnLists();
    auto* address = Find<QLineEdit>("edtForward");
    address->setFocus();
    QTest::keyClicks(address, "a@b");
    // No leaving needed: the last key already stored it.
    EXPECT_EQ(ReadRegString(Store(), MailboxKeyPath("home"), schema::ForwardAddress, "?"), "a@b");
    QTest::keyClick(address, Qt::Key_Backspace);
    EXPECT_EQ(ReadRegString(Store(), MailboxKeyPath("home"), schema::ForwardAddress, "?"), "a@");
    const struct {
        const char* box;
        const char* value;
    } boxes[] = {{"chkEnableAccept", schema::AcceptListEnabled},
                 {"chkDelete", schema::DeleteEnabled},
                 {"chkBounce", schema::BounceEnabled}};
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.box);
        Click(b.box);
        EXPECT_EQ(StoredFlag(b.value), "0");
        Click(b.box);
        EXPECT_EQ(StoredFlag(b.value), "1");
    }
}

TEST_F(ListsPageTest, WithoutAMailboxNothingIsStoredOrCreated) {
    StartOnLists(false);
    TypeListAndLeave("memoAccept", "x");
    Find<QLineEdit>("edtForward")->setText("a@b");
    Click("chkEnableAccept");
    Click("chkDelete");
    EXPECT_FALSE(home.Exists(".dat"));
    EXPECT_TRUE(SortedMailboxNames(Store()).empty());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
}

} // namespace
} // namespace zelm::test
