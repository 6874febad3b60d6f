#include "core/settings_export.h"

#include <gtest/gtest.h>

#include <string>

#include "core/zelm_error.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

std::string AllBytesFrom1() {
    std::string bytes;
    for (int b = 1; b <= 255; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

class SettingsExportTest : public ::testing::Test {
protected:
    test::TempHome folder;
    SettingsDb db{folder.File("settings.db")};
    const std::string root = SettingsRoot;
};

TEST_F(SettingsExportTest, ExportWritesKeysDepthFirstSortedWithEscapes) {
    WriteRegString(db, MailboxKeyPath("home"), "Host", "pop.example.com");
    WriteRegBool(db, MailboxKeyPath("home"), "MailboxEnabled", true);
    WriteRegString(db, MailboxKeyPath("home"), "Operation", "spam\r\nnews\r\n");
    WriteRegString(db, MailboxKeyPath("home"), "Password", ScramblePassword("abc"));
    WriteRegString(db, FilterKeyPath("home", "b"), "Rules", "q\"\\\t\x01\x7f\xff");
    WriteRegString(db, FilterKeyPath("home", "A"), "Rules", "");
    WriteRegString(db, MailboxKeyPath("Zed"), "Host", "");
    ConfigStore rootKey(db);
    ASSERT_TRUE(rootKey.OpenKey(root, false));
    rootKey.WriteInteger("LastMailbox", -1);

    EXPECT_EQ(ExportSettings(db), "[Software]\n"
                                  "\n"
                                  "[Software\\Tarvo Software]\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm]\n"
                                  "\"LastMailbox\" = int -1\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm\\Mailboxes]\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm\\Mailboxes\\home]\n"
                                  "\"Host\" = \"pop.example.com\"\n"
                                  "\"MailboxEnabled\" = int 1\n"
                                  "\"Operation\" = \"spam\\r\\nnews\\r\\n\"\n"
                                  "\"Password\" = \"\\xe1\\xe2\\xe3\"\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm\\Mailboxes\\home\\Filters]\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm\\Mailboxes\\home\\Filters\\A]\n"
                                  "\"Rules\" = \"\"\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm\\Mailboxes\\home\\Filters\\b]\n"
                                  "\"Rules\" = \"q\\\"\\\\\\t\\x01\\x7f\\xff\"\n"
                                  "\n"
                                  "[Software\\Tarvo Software\\Zelm\\Mailboxes\\Zed]\n"
                                  "\"Host\" = \"\"\n");
}

TEST_F(SettingsExportTest, ImportReplacesTheTreeAndExportsAgainIdentically) {
    const std::string bytes = AllBytesFrom1();
    WriteRegString(db, MailboxKeyPath("home"), "All", bytes);
    WriteRegString(db, MailboxKeyPath("home") + "\\Empty\\Deep", "x", "1");
    ConfigStore rootKey(db);
    ASSERT_TRUE(rootKey.OpenKey("", true));
    rootKey.WriteInteger("OnTheRoot", 2147483647);
    const std::string exported = ExportSettings(db);

    test::TempHome other;
    SettingsDb target(other.File("settings.db"));
    WriteRegString(target, MailboxKeyPath("old"), "Host", "gone after import");
    ImportSettings(target, exported);
    EXPECT_EQ(ExportSettings(target), exported);
    EXPECT_EQ(ReadRegString(target, MailboxKeyPath("home"), "All", ""), bytes);
    EXPECT_EQ(ReadRegString(target, MailboxKeyPath("old"), "Host", "none"), "none");

    // CR LF line ends, blanks around "=" and upper-case hex read the same.
    ImportSettings(target, "[Software\\Tarvo Software\\Zelm]\r\n  \"A\"\t=  \"\\xE1\"  \r\n\r\n"
                           "\"B\" = int +5\r\n[Software/Tarvo Software/Zelm/Mailboxes]\r\n");
    ConfigStore check(target);
    ASSERT_TRUE(check.OpenKey(root, false));
    EXPECT_EQ(check.ReadString("a"), "\xe1");
    EXPECT_EQ(check.ReadInteger("B"), 5);
    EXPECT_TRUE(check.OpenKey(root + "\\Mailboxes", false));
    EXPECT_FALSE(check.OpenKey(MailboxKeyPath("home"), false));
}

TEST_F(SettingsExportTest, AMalformedImportChangesNothingAndNamesItsFirstBadLine) {
    WriteRegString(db, MailboxKeyPath("home"), "Host", "kept");
    const std::string before = ExportSettings(db);
    const std::string header = "[Software\\Tarvo Software\\Zelm]\n";
    struct Case {
        const char* what;
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"value before key", "\"A\" = \"x\"\n", "line 1: "},
        {"no equals", header + "\"A\" \"x\"\n", "line 2: "},
        {"unknown escape", header + "\n\"A\" = \"\\q\"\n", "line 3: "},
        {"short hex", header + "\"A\" = \"\\x4\"\n", "line 2: "},
        {"open quote", header + "\"A\" = \"x\n", "line 2: "},
        {"trailing text", header + "\"A\" = \"x\" y\n", "line 2: "},
        {"int range", header + "\"A\" = int 2147483648\n", "line 2: "},
        {"int text", header + "\"A\" = int 12a\n", "line 2: "},
        {"no type", header + "\"A\" = 12\n", "line 2: "},
        {"open key line", "[Software\n", "line 1: "},
        {"bad mailbox", header + "[Software\\Tarvo Software\\Zelm\\Mailboxes\\zelm.lock]\n",
         "line 2: The mailbox name \"zelm.lock\" is refused"},
        {"bad line after good ones", header + "\"A\" = \"x\"\n\"B\" = int 1\nrubbish\n",
         "line 4: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            ImportSettings(db, c.text);
            ADD_FAILURE() << "accepted";
        } catch (const ZelmError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.message, 0), 0u) << error.what();
        }
        EXPECT_EQ(ExportSettings(db), before);
    }
}

} // namespace
} // namespace zelm
