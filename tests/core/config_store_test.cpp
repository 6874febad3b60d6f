#include "core/config_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/schema.h"
#include "core/settings_export.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string AllBytesFrom1() {
    std::string bytes;
    for (int b = 1; b <= 255; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

/// Expects f to throw ZelmError whose text is exactly message.
template <typename F>
void ExpectError(F f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const ZelmError& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

/// Expects f to throw ZelmError whose text contains part.
template <typename F>
void ExpectErrorContaining(F f, const std::string& part) {
    try {
        f();
        ADD_FAILURE() << "no error, expected one containing: " << part;
    } catch (const ZelmError& error) {
        EXPECT_NE(std::string(error.what()).find(part), std::string::npos) << error.what();
    }
}

class ConfigStoreTest : public ::testing::Test {
protected:
    test::TempHome folder;
    std::string dbPath = folder.File("settings.db");
    SettingsDb db{dbPath, 100};
    ConfigStore store{db};
    const std::string root = SettingsRoot;
};

TEST_F(ConfigStoreTest, OpenKeyCreatesWholePathAndFindsItWithoutRegardToCase) {
    EXPECT_FALSE(store.OpenKey(root + "\\Mailboxes\\home", false));
    EXPECT_FALSE(store.HasOpenKey());
    EXPECT_TRUE(store.OpenKey(root + "\\Mailboxes\\home", true));
    store.WriteString("Host", "pop.example.com");
    store.CloseKey();
    store.CloseKey(); // closing with no open key does nothing

    // Both separators, doubled separators and other letter case address the same key.
    EXPECT_TRUE(store.OpenKey("software/TARVO SOFTWARE//zelm\\mailboxes/HOME/", false));
    EXPECT_EQ(store.ReadString("HOST"), "pop.example.com");

    ConfigStore mailboxes(db);
    ASSERT_TRUE(mailboxes.OpenKey(root + "\\Mailboxes", false));
    std::vector<std::string> names{"stale"};
    mailboxes.GetKeyNames(names);
    EXPECT_EQ(names, std::vector<std::string>{"home"});
}

TEST_F(ConfigStoreTest, ReadsFollowTheStoreRules) {
    ASSERT_TRUE(store.OpenKey(root, true));
    store.WriteString("Text", "x");
    store.WriteInteger("Number", 7);
    store.WriteBool("Flag", false);

    EXPECT_EQ(store.ReadString("Absent"), "");
    EXPECT_TRUE(store.ReadBool("Number"));
    EXPECT_FALSE(store.ReadBool("Flag"));
    EXPECT_EQ(store.ReadInteger("flag"), 0);
    EXPECT_TRUE(store.ValueExists("number"));
    EXPECT_FALSE(store.ValueExists("Absent"));
    EXPECT_EQ(store.GetValueType("Text"), ValueType::String);
    EXPECT_EQ(store.GetValueType("Number"), ValueType::Integer);

    ExpectError([&] { store.ReadInteger("Top"); }, "Failed to get data for 'Top'");
    ExpectError([&] { store.ReadBool("Top"); }, "Failed to get data for 'Top'");
    ExpectError([&] { store.ReadInteger("Text"); }, "Invalid data type for 'Text'");
    ExpectError([&] { store.ReadString("Number"); }, "Invalid data type for 'Number'");

    // A value changes type when rewritten with the other kind, keeping one value per name.
    store.WriteString("number", "now text");
    EXPECT_EQ(store.ReadString("Number"), "now text");
    std::vector<std::string> values;
    store.GetValueNames(values);
    EXPECT_EQ(values.size(), 3u);
}

TEST_F(ConfigStoreTest, WithoutAnOpenKeyWritesFailAndDeletesFindNothing) {
    ExpectError([&] { store.WriteString("Host", "x"); }, "Failed to set data for 'Host'");
    ExpectError([&] { store.WriteInteger("Top", 1); }, "Failed to set data for 'Top'");
    ExpectError([&] { store.ReadInteger("Top"); }, "Failed to get data for 'Top'");
    EXPECT_FALSE(store.DeleteKey("x"));
    EXPECT_FALSE(store.DeleteValue("x"));
}

TEST_F(ConfigStoreTest, StringsKeepEveryByteAndSurviveReopening) {
    const std::string bytes = AllBytesFrom1() + std::string(1, '\0') + "tail";
    WriteRegString(db, root, "Bytes", bytes);
    WriteRegString(db, root, "Empty", "");
    WriteRegBool(db, root, "Flag", true);

    SettingsDb reopened(dbPath);
    ConfigStore again(reopened);
    ASSERT_TRUE(again.OpenKey(root, false));
    EXPECT_EQ(again.ReadString("Bytes"), bytes);
    EXPECT_TRUE(again.ValueExists("Empty")); // an empty string is a value, not an absence
    EXPECT_TRUE(again.ReadBool("Flag"));
}

TEST_F(ConfigStoreTest, ReadRegStringGivesTheDefaultOnlyForAMissingKey) {
    EXPECT_EQ(ReadRegString(db, root + "\\Nowhere", "Rules", "dflt"), "dflt");
    WriteRegString(db, root + "\\Somewhere", "Other", "x");
    EXPECT_EQ(ReadRegString(db, root + "\\Somewhere", "Rules", "dflt"), "");
    EXPECT_EQ(ReadRegString(db, root + "\\Somewhere", "other", "dflt"), "x");
}

TEST_F(ConfigStoreTest, ListValuesReadTheSameWithOrWithoutTheFinalLineBreak) {
    WriteRegString(db, root, schema::HeaderFields, JoinListValue({"From", "", "To"}));
    EXPECT_EQ(ReadRegString(db, root, schema::HeaderFields, ""), "From\r\n\r\nTo\r\n");
    WriteRegString(db, root, "Rules", "      Subject contains `a`\r\nOR    Subject contains ``");
    EXPECT_EQ(
        SplitListValue(ReadRegString(db, root, "Rules", "")),
        (std::vector<std::string>{"      Subject contains `a`", "OR    Subject contains ``"}));
}

TEST_F(ConfigStoreTest, DeleteKeyTakesEverythingBelowIt) {
    WriteRegString(db, FilterKeyPath("home", "spam"), "Rules", "r\r\n");
    WriteRegString(db, MailboxKeyPath("home"), "Host", "h");
    ASSERT_TRUE(store.OpenKey(root + "\\Mailboxes", false));
    EXPECT_TRUE(store.DeleteKey("HOME"));
    EXPECT_FALSE(store.DeleteKey("home"));
    store.CloseKey();

    // Nothing of the old mailbox comes back when a key of that name is made again.
    EXPECT_EQ(ReadRegString(db, FilterKeyPath("home", "spam"), "Rules", "gone"), "gone");
    ASSERT_TRUE(store.OpenKey(MailboxKeyPath("home"), true));
    EXPECT_FALSE(store.ValueExists("Host"));
    std::vector<std::string> names;
    store.GetKeyNames(names);
    EXPECT_TRUE(names.empty());
    sqlite3* handle = db.Handle();
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(handle, "SELECT count(*) FROM \"values\"", -1, &count, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), 0);
    sqlite3_finalize(count);

    EXPECT_TRUE(store.OpenKey(root, true));
    store.WriteString("V", "x");
    EXPECT_TRUE(store.DeleteValue("v"));
    EXPECT_FALSE(store.DeleteValue("v"));
}

TEST(Scrambling, MapsEachByteByItsHighestBit) {
    EXPECT_EQ(ScramblePassword("abc"), "\xe1\xe2\xe3");
    EXPECT_EQ(UnscramblePassword("\xe1\xe2\xe3"), "abc");
    EXPECT_EQ(ScramblePassword(""), "");
    // The stored form is NUL-terminated: a byte 128 maps to 0 and ends the result.
    EXPECT_EQ(ScramblePassword("ab\x80"
                               "cd"),
              "\xe1\xe2");
    EXPECT_EQ(UnscramblePassword("\xe1\x80\xe2"), "a");

    std::string all;
    for (int b = 1; b <= 255; ++b) {
        if (b != 128) all += static_cast<char>(b);
    }
    const std::string scrambled = ScramblePassword(all);
    EXPECT_EQ(scrambled.size(), all.size());
    EXPECT_EQ(UnscramblePassword(scrambled), all);
    // A long password is kept whole rather than cut.
    EXPECT_EQ(UnscramblePassword(ScramblePassword(std::string(1500, 'p'))), std::string(1500, 'p'));
}

TEST_F(ConfigStoreTest, CreateMailboxWritesItsStartingValues) {
    NewMailboxValues shown;
    shown.enabled = false;
    shown.cache = "250";
    shown.host = "pop.example.com";
    shown.smtpHost = "smtp.example.com";
    CreateMailbox(db, "Office", shown);

    ASSERT_TRUE(store.OpenKey(MailboxKeyPath("office"), false));
    EXPECT_FALSE(store.ReadBool(schema::MailboxEnabled));
    EXPECT_EQ(store.ReadString(schema::Cache), "250");
    EXPECT_EQ(store.ReadString(schema::Host), "pop.example.com");
    EXPECT_EQ(store.ReadString(schema::Port), "110");
    EXPECT_EQ(store.ReadString(schema::SMTPHost), "smtp.example.com");
    EXPECT_EQ(store.ReadString(schema::SMTPPort), "25");
    for (const char* empty : {schema::UserID, schema::Password, schema::SMTPFrom}) {
        EXPECT_TRUE(store.ValueExists(empty)) << empty;
        EXPECT_EQ(store.ReadString(empty), "") << empty;
    }
    std::vector<std::string> values;
    store.GetValueNames(values);
    EXPECT_EQ(values.size(), 9u);
}

TEST_F(ConfigStoreTest, FiltersComeAndGoWithoutTouchingTheOrderList) {
    CreateMailbox(db, "home", NewMailboxValues{});
    CreateFilter(db, "home", "spam");
    CreateFilter(db, "home", "news");
    WriteRegString(db, MailboxKeyPath("home"), schema::Operation, "spam\r\nnews\r\n");

    ASSERT_TRUE(store.OpenKey(FilterKeyPath("home", "spam"), false));
    EXPECT_TRUE(store.ValueExists(schema::Rules));
    EXPECT_EQ(store.ReadString(schema::Rules), "");

    EXPECT_TRUE(DeleteFilter(db, "home", "SPAM"));
    EXPECT_FALSE(DeleteFilter(db, "home", "spam"));
    EXPECT_FALSE(store.OpenKey(FilterKeyPath("home", "spam"), false));
    EXPECT_EQ(ReadRegString(db, MailboxKeyPath("home"), schema::Operation, ""), "spam\r\nnews\r\n");

    EXPECT_TRUE(DeleteMailbox(db, "Home"));
    EXPECT_FALSE(store.OpenKey(FilterKeyPath("home", "news"), false));
    EXPECT_FALSE(DeleteMailbox(db, "home"));
    // A mailbox name that is not one key name never reaches other keys.
    EXPECT_FALSE(DeleteFilter(db, "a/b", "x"));
    EXPECT_FALSE(store.OpenKey(MailboxKeyPath("a"), false));
}

TEST_F(ConfigStoreTest, TheStoreRefusesToCreateBadMailboxAndFilterKeys) {
    const std::string mailboxes = root + "\\Mailboxes\\";
    ExpectErrorContaining([&] { store.OpenKey(mailboxes + "zelm", true); }, "\"zelm\"");
    ExpectErrorContaining(
        [&] { store.OpenKey("software/tarvo software/zelm/MAILBOXES/Mon.log", true); },
        "mailbox name \"Mon.log\"");
    ExpectErrorContaining([&] { store.OpenKey(mailboxes + "..", true); }, "\"..\"");
    ExpectErrorContaining([&] { store.OpenKey(mailboxes + "home\\Filters\\..", true); },
                          "filter name");
    ExpectErrorContaining([&] { store.OpenKey(mailboxes + "home\\Filters\\a\x01", true); },
                          "\"a\\x01\"");
    ExpectErrorContaining([&] { CreateMailbox(db, "a/b", NewMailboxValues{}); },
                          "mailbox name \"a/b\"");
    ExpectErrorContaining([&] { CreateFilter(db, "home", "a\\b"); }, "filter name \"a\\\\b\"");
    ExpectErrorContaining([&] { WriteRegString(db, MailboxKeyPath("m00007"), "Host", "x"); },
                          "m00007");
    // Nothing of a refused path was created, not even its sound first part.
    EXPECT_FALSE(store.OpenKey(mailboxes + "home", false));
    EXPECT_FALSE(store.OpenKey(root, false));

    // The checks belong to the mailbox and filter levels only; opening never checks, so a
    // session can still reach (and pass over) a name stored before the checks existed.
    EXPECT_TRUE(store.OpenKey(root + "\\Other\\zelm", true));
    EXPECT_TRUE(store.OpenKey(mailboxes + "home\\Filters\\zelm", true));
    EXPECT_TRUE(store.OpenKey(mailboxes + "home\\Other\\..x", true));
    EXPECT_FALSE(store.OpenKey(mailboxes + "zelm", false));
    ExpectErrorContaining([&] { store.OpenKey(root + "\\Other\\line\nbreak", true); },
                          "control characters");
}

TEST(SettingsDbFile, IsCreatedPrivate) {
    test::TempHome folder;
    const mode_t old = ::umask(0);
    { SettingsDb db(folder.File("settings.db")); }
    ::umask(old);
    struct stat info {};
    ASSERT_EQ(::stat(folder.File("settings.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(SettingsDbFile, AForeignFileIsRefusedAndLeftAsItWas) {
    test::TempHome folder;
    struct Case {
        const char* what;
        std::string content;
    };
    std::string otherDb;
    {
        // Another program's SQLite database.
        const std::string path = folder.File("other.db");
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &handle), SQLITE_OK);
        sqlite3_exec(handle, "CREATE TABLE t (x); INSERT INTO t VALUES (1)", nullptr, nullptr,
                     nullptr);
        sqlite3_close(handle);
        otherDb = ReadFile(path);
    }
    const Case cases[] = {
        {"text", "This is not a database at all, just some text.\n" + std::string(5000, 'x')},
        {"other database", otherDb},
        {"truncated header", otherDb.substr(0, 50)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder.File("settings.db");
        WriteFile(path, c.content);
        ExpectErrorContaining([&] { SettingsDb db(path, 100); }, "settings database");
        EXPECT_TRUE(ReadFile(path) == c.content) << "the file was changed";
        fs::remove(path);
    }
}

TEST(SettingsDbFile, ALockedStoreFailsClearlyAndLosesNothing) {
    test::TempHome folder;
    const std::string path = folder.File("settings.db");
    SettingsDb db(path, 100);
    WriteRegString(db, SettingsRoot, "Host", "before");

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    ConfigStore store(db);
    ASSERT_TRUE(store.OpenKey(SettingsRoot, false)); // reads go on beside a writer
    ExpectError([&] { store.WriteString("Host", "during"); }, "Failed to set data for 'Host'");
    ExpectErrorContaining([&] { store.OpenKey(std::string(SettingsRoot) + "\\New", true); },
                          "locked");
    ExpectErrorContaining([&] { ImportSettings(db, ""); }, "Failed to replace the settings");
    // Another program may still open the store and read it.
    EXPECT_NO_THROW(SettingsDb(path, 50));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(ReadRegString(db, SettingsRoot, "Host", ""), "before");
    WriteRegString(db, SettingsRoot, "Host", "after");
    EXPECT_EQ(ReadRegString(db, SettingsRoot, "Host", ""), "after");
}

TEST(SettingsDbFile, ACommittedValueSurvivesACrashOfTheProcess) {
    test::TempHome folder;
    const std::string path = folder.File("settings.db");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child writes and dies at once: no close, no checkpoint, no destructors.
        SettingsDb db(path);
        WriteRegString(db, MailboxKeyPath("home"), "Host", "committed");
        ::kill(::getpid(), SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    SettingsDb db(path);
    EXPECT_EQ(ReadRegString(db, MailboxKeyPath("home"), "Host", "missing"), "committed");
}

TEST(ContentType, ExtensionOfTheLastPartOfTheName) {
    test::TempHome folder;
    const std::string table = folder.File("mime.types");
    WriteFile(table, "# comment line txt\n"
                     "text/x-own\t\town  other\n"
                     "\n"
                     "application/x-only-type\n"
                     "image/x-shout LOUD\n");
    struct Case {
        const char* fileName;
        const char* expected;
    };
    const Case cases[] = {
        {"report.own", "text/x-own"},
        {"C:\\Data\\report.OTHER", "text/x-own"},
        {"shout.loud", "image/x-shout"},
        {"a.pdf", "application/pdf"},        // from the built-in table
        {"/home/u/Photo.JPG", "image/jpeg"}, // extension case does not matter
        {"a.txt", "text/plain"},
        {"noext", "application/octet-stream"},
        {"ends.", "application/octet-stream"},
        {"dir.own/file", "application/octet-stream"},
        {"C:\\dir.own\\file", "application/octet-stream"},
        {"C:file.x:stream", "application/octet-stream"},
        {"a.unknownext", "application/octet-stream"},
        {"comment", "application/octet-stream"},
        {"", "application/octet-stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        EXPECT_EQ(LookupContentTypeIn(c.fileName, table), c.expected);
    }
    // Without a system table the built-in one answers.
    EXPECT_EQ(LookupContentTypeIn("x.png", folder.File("missing")), "image/png");
    EXPECT_EQ(LookupContentTypeIn("x.own", folder.File("missing")), "application/octet-stream");
    // The system table (media-types) is there on every machine Zelm is built on.
    EXPECT_EQ(LookupContentType("notes.txt"), "text/plain");
    EXPECT_EQ(LookupContentType("page.html"), "text/html");
}

TEST(RunAtStartup, WritesAndRemovesTheAutostartEntry) {
    test::TempHome folder;
    const std::string config = folder.File("config");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::string entry = config + "/autostart/zelm.desktop";

    SetRunAtStartup("Zelm", "/opt/my apps/zelm", true);
    const std::string text = ReadFile(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nName=Zelm\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/my apps/zelm\"\n"), std::string::npos) << text;

    SetRunAtStartup("Zelm", std::vector<std::string>{"/usr/bin/zelm", "--home", "/h/100%$"}, true);
    EXPECT_NE(ReadFile(entry).find("\nExec=/usr/bin/zelm --home \"/h/100%%\\\\$\"\n"),
              std::string::npos)
        << ReadFile(entry);

    SetRunAtStartup("Zelm", "/usr/bin/zelm", false);
    EXPECT_FALSE(fs::exists(entry));
    SetRunAtStartup("Zelm", "/usr/bin/zelm", false); // removing twice is quiet

    // A place that cannot hold the entry is passed over silently.
    WriteFile(folder.File("file"), "x");
    ::setenv("XDG_CONFIG_HOME", folder.File("file").c_str(), 1);
    EXPECT_NO_THROW(SetRunAtStartup("Zelm", "/usr/bin/zelm", true));
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace zelm
