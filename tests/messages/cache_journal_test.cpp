#include "messages/cache_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/zelm_error.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using Ids = std::vector<std::string>;

TEST(CacheJournal, RecordsAreLinesAppendedAsTheyHappen) {
    test::TempHome home;
    const std::string path = JournalFilePath(home.Path(), "home");
    EXPECT_EQ(path, home.File("home.jnl"));
    EXPECT_FALSE(ReadJournal(path));

    JournalWriter writer;
    writer.Start(path);
    // Nothing is created before the first record.
    EXPECT_FALSE(home.Exists("home.jnl"));
    writer.RecordCached("id-1");
    writer.RecordDeletion("id-2");
    EXPECT_EQ(home.Read("home.jnl"), "cache id-1\r\ndele id-2\r\n");
    writer.RecordCached("id-2");
    // An id the lines cannot carry is left to the data file.
    writer.RecordCached("bad\nid");
    writer.RecordCached("");
    writer.Stop();
    writer.RecordCached("after the stop");

    const auto records = ReadJournal(path);
    ASSERT_TRUE(records);
    EXPECT_EQ(records->cached, (Ids{"id-1", "id-2"}));
    EXPECT_EQ(records->deleted, Ids{"id-2"});
    EXPECT_EQ(records->damagedLines, 0);
}

TEST(CacheJournal, DamagedLinesAreCountedAndLeftOut) {
    struct Case {
        const char* what;
        std::string content;
        Ids cached;
        Ids deleted;
        int damaged;
    };
    const Case cases[] = {
        {"cut off in the middle of a record", "cache a\r\ncache b\r\ncache c", {"a", "b"}, {}, 1},
        {"cut off after the CR", "dele a\r", {}, {}, 1},
        {"line ends without CR", "cache a\ndele b\n", {"a"}, {"b"}, 0},
        {"unknown and empty records",
         "cache a\r\n\r\nhello\r\ncache \r\nCACHE b\r\ndele x\r\n",
         {"a"},
         {"x"},
         4},
        {"a run of NUL bytes after a crash", std::string("cache a\r\n\0\0\0\0", 13), {"a"}, {}, 1},
        {"a NUL inside an id", std::string("cache a\0b\r\ncache c\r\n", 20), {"c"}, {}, 1},
        {"an empty file", "", {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempHome home;
        home.Write("a.jnl", c.content);
        const auto records = ReadJournal(home.File("a.jnl"));
        ASSERT_TRUE(records);
        EXPECT_EQ(records->cached, c.cached);
        EXPECT_EQ(records->deleted, c.deleted);
        EXPECT_EQ(records->damagedLines, c.damaged);
    }
}

TEST(CacheJournal, RewriteKeepsOnlyTheDeletionsOrRemovesTheFile) {
    test::TempHome home;
    home.Write("a.jnl", "cache a\r\ndele b\r\ncache c");
    RewriteJournal(home.File("a.jnl"), {"b", "d"});
    EXPECT_EQ(home.Read("a.jnl"), "dele b\r\ndele d\r\n");

    RewriteJournal(home.File("a.jnl"), {});
    EXPECT_FALSE(home.Exists("a.jnl"));
    // Nothing to remove is no error.
    RewriteJournal(home.File("a.jnl"), {});
}

TEST(CacheJournal, NamesOutsideTheHomeFolderAreRefused) {
    for (const char* name : {"", ".", "..", "a/b"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(JournalFilePath("/home/x/", name), ZelmError);
    }
}

} // namespace
} // namespace zelm
