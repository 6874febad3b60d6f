#include "core/string_helpers.h"

#include <gtest/gtest.h>

#include <climits>

namespace zelm {
namespace {

TEST(PosFrom, Edges) {
    struct Case {
        int start;
        const char* text;
        const char* pattern;
        int expected;
    };
    const Case cases[] = {
        {3, "abcabc", "a", 4}, {5, "abcabc", "a", 0}, {0, "abc", "a", 0}, {2, "abc", "", 2},
        {1, "", "", 0},        {1, "", "a", 0},       {4, "abc", "c", 0}, {1, "abc", "bc", 2},
        {3, "abc", "c", 3},    {1, "aBc", "b", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.pattern);
        EXPECT_EQ(PosFrom(c.start, c.text, c.pattern), c.expected);
    }
}

TEST(RightStr, Edges) {
    EXPECT_EQ(RightStr("abc", 5), "abc");
    EXPECT_EQ(RightStr("abc", 0), "");
    EXPECT_EQ(RightStr("abc", 2), "bc");
    EXPECT_EQ(RightStr("", 2), "");
}

TEST(Split, PiecesAndCount) {
    struct Case {
        const char* text;
        const char* separator;
        std::vector<std::string> pieces;
        int count;
    };
    const Case cases[] = {
        {"a.b.c", ".", {"a", "b", "c"}, 3},
        {"a.b.", ".", {"a", "b", ""}, 3},
        {".a", ".", {"", "a"}, 2},
        {"", ".", {""}, 1},
        {"abc", ".", {"abc"}, 1},
        {"a\r\nb\r\n", "\r\n", {"a", "b", ""}, 3},
        {"a::b:::c", "::", {"a", "b", ":c"}, 3},
        {"abc", "", {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = Split(c.text, c.separator);
        EXPECT_EQ(result.pieces, c.pieces);
        EXPECT_EQ(result.count, c.count);
    }
}

TEST(Split, LongLastPieceIsWhole) {
    const std::string tail(70000, 'x');
    const auto result = Split("a," + tail, ",");
    ASSERT_EQ(result.count, 2);
    EXPECT_EQ(result.pieces[1], tail);
}

TEST(CountOccurrencesAndReplaceAll, Edges) {
    EXPECT_EQ(CountOccurrences("a,b,,c", ","), 3);
    EXPECT_EQ(CountOccurrences("aaa", "aa"), 1);
    EXPECT_EQ(CountOccurrences("abc", ""), 0);
    EXPECT_EQ(ReplaceAll("<a@b>", "<", ""), "a@b>");
    EXPECT_EQ(ReplaceAll("a;b;c", ";", ","), "a,b,c");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    // Each search starts from the beginning: removing "ab" from "aabb" leaves nothing.
    EXPECT_EQ(ReplaceAll("aabb", "ab", ""), "");
}

TEST(IsDottedIPv4, Cases) {
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"10.0.0.1", true},   {"10.0.0", false},           {"10.0.0.256", false},
        {"10..0.1", false},   {" 10.0.0.1", true},         {"192.168.1.10", true},
        {"300.1.1.1", false}, {"a.b.c.d", false},          {"1.2.3.4.5", false},
        {"10.0.0.1 ", false}, {"mail.example.com", false}, {"0.0.0.0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsDottedIPv4(c.text), c.expected);
    }
}

TEST(TextToIntDef, Cases) {
    struct Case {
        const char* text;
        std::int32_t fallback;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"12 ", 0, 0},
        {"$1F", 0, 31},
        {"-5", 0, -5},
        {"", 7, 7},
        {"   ", 7, 7},
        {"  42", 0, 42},
        {"+8", 0, 8},
        {"010", 0, 10},
        {"0x1f", 0, 31},
        {"x10", 0, 16},
        {"X10", 0, 16},
        {"0X10", 0, 16},
        {"-$10", 0, -16},
        {"2147483647", 0, INT_MAX},
        {"2147483648", 1, 1},
        {"-2147483648", 0, INT_MIN},
        {"-2147483649", 1, 1},
        // Hexadecimal texts are range-checked as decimal ones, never wrapped.
        {"$7FFFFFFF", 0, INT_MAX},
        {"$80000000", 1, 1},
        {"$FFFFFFFF", 1, 1},
        {"-$80000000", 0, INT_MIN},
        {"-0x80000001", 1, 1},
        {"1a", 3, 3},
        {"--1", 3, 3},
        {"$", 3, 3},
        {"0x", 3, 3},
        {"- 1", 3, 3},
        {"99999999999999999999", 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TextToIntDef(c.text, c.fallback), c.expected);
    }
}

TEST(ListValues, SplitAndJoin) {
    EXPECT_EQ(SplitListValue("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitListValue("a\r\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitListValue(""), std::vector<std::string>{});
    EXPECT_EQ(SplitListValue("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(JoinListValue({"a", "b"}), "a\r\nb\r\n");
    EXPECT_EQ(JoinListValue({}), "");
}

TEST(NoCase, OnlyAsciiLettersFold) {
    EXPECT_TRUE(ContainsNoCase("Hello World", "WORLD"));
    EXPECT_FALSE(ContainsNoCase("\xC4", "\xE4"));
    EXPECT_TRUE(EqualsNoCase("Home", "hOME"));
    EXPECT_TRUE(LessNoCase("apple", "Banana"));
    EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimmedView(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimmedView("\x01 \x7F\x80 "), "\x7F\x80");
    EXPECT_EQ(TrimmedView(" \r\n"), "");
}

TEST(SpareStrings, SetAsideAndTakenBackWithTheirRoom) {
    std::vector<std::string> list = {std::string(100, 'a'), "b"};
    std::vector<std::string> spare;
    const char* room = list[0].data();
    SetAsideStrings(list, spare);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(spare.size(), 2u);

    // A second set-aside keeps the first strings; a list with contents keeps its own.
    SetAsideStrings(list, spare);
    EXPECT_EQ(spare.size(), 2u);
    std::vector<std::string> full = {"own"};
    TakeBackStrings(full, spare);
    EXPECT_EQ(full, std::vector<std::string>{"own"});

    TakeBackStrings(list, spare);
    EXPECT_TRUE(spare.empty());
    ASSERT_EQ(list.size(), 2u);
    list[0].assign(50, 'c');
    EXPECT_EQ(list[0].data(), room);
}

} // namespace
} // namespace zelm
