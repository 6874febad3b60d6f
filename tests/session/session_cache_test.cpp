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

TEST(MessageCacheTest, IndexOutlivesTheEntriesItWasBuiltOn) {
    // Thousands of ids, long and short, each stored twice: trimming frees the oldest entries
    // (and the deque's blocks) while the second copies must still be found through the index.
    MessageCache cache;
    Ids ids;
    const auto id = [](int n, bool upper) {
        std::string text =
            (n % 2 ? "short" : "a-long-message-id-of-some-length-") + std::to_string(n);
        if (upper) {
            for (char& c : text)
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        }
        return text;
    };
    for (int n = 0; n < 3000; ++n)
        ids.push_back(id(n, false));
    cache.Assign(ids);
    for (int n = 0; n < 3000; ++n)
        cache.Append(id(n, true));

    cache.Trim(3000);
    for (int n = 0; n < 3000; n += 7) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(cache.Contains(id(n, false)));
    }
    cache.Append("fresh");
    cache.Trim(1500);
    EXPECT_FALSE(cache.Contains(id(1000, false)));
    EXPECT_TRUE(cache.Contains(id(2000, false)));
    EXPECT_TRUE(cache.Contains("FRESH"));
    EXPECT_EQ(cache.Size(), 1500u);
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
