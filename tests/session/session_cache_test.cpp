#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/message_cache.h"

namespace zelm {
namespace {

using Ids = std::vector<std::string>;

TEST(MessageCacheTest, LookupIgnoresTheCaseOfLettersOnly) {
    MessageCache cache;
    cache.Assign({"AbC-1", "x\xC4y"});

    EXPECT_TRUE(cache.Contains("abc-1"));
    EXPECT_TRUE(cache.Contains("ABC-1"));
    EXPECT_FALSE(cache.Contains("abc-"));
    // Only A to Z fold: a byte above 127 must match itself exactly.
    EXPECT_TRUE(cache.Contains("X\xC4Y"));
    EXPECT_FALSE(cache.Contains("x\xE4y"));
    EXPECT_FALSE(cache.Contains(""));
}

TEST(MessageCacheTest, TrimDropsTheOldestAndKeepsTheIndexInStep) {
    struct Case {
        long limit;
        Ids kept;
    };
    const Case cases[] = {{3, {"c", "D", "e"}},
                          {5, {"a", "b", "c", "D", "e"}},
                          {9, {"a", "b", "c", "D", "e"}},
                          {0, {}},
                          {-4, {}}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.limit);
        MessageCache cache;
        cache.Assign({"a", "b", "c", "D", "e"});
        cache.Trim(row.limit);
        EXPECT_EQ(cache.Lines(), row.kept);
        EXPECT_EQ(cache.Contains("a"), row.limit >= 5);
        EXPECT_EQ(cache.Contains("d"), row.limit >= 2);
    }
}

TEST(MessageCacheTest, DuplicateStoredIdStaysFoundUntilItsLastCopyIsTrimmed) {
    MessageCache cache;
    cache.Assign({"dup", "x", "DUP", "y"});

    cache.Trim(3);
    EXPECT_TRUE(cache.Contains("dup"));
    cache.Trim(1);
    EXPECT_FALSE(cache.Contains("dup"));
    EXPECT_EQ(cache.Lines(), Ids{"y"});
}

TEST(MessageCacheTest, AppendKeepsFileOrder) {
    MessageCache cache;
    cache.Assign({"1", "2"});
    cache.Append("3");

    EXPECT_EQ(cache.Lines(), (Ids{"1", "2", "3"}));
    EXPECT_EQ(cache.Size(), 3u);
}

} // namespace
} // namespace zelm
