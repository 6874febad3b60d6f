#include "core/message_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelm {
namespace {

using Lines = std::vector<std::string>;

// The text must always be the lines each ended by CR LF, and each line must read back alone.
void ExpectHolds(const MessageText& text, const Lines& lines) {
    std::string joined;
    for (const auto& line : lines)
        joined += line + "\r\n";
    EXPECT_EQ(text.Text(), joined);
    ASSERT_EQ(text.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(text[i], lines[i]) << "line " << i;
}

TEST(MessageText, DotStuffingLosesOneLeadingDotOfEveryDoubledLine) {
    struct Case {
        const char* name;
        Lines stuffed;
        Lines plain;
    };
    const Case cases[] = {
        {"none", {"a", "", "b"}, {"a", "", "b"}},
        {"first and last", {"..x", "mid", ".."}, {".x", "mid", "."}},
        {"runs of dots", {"...", "....y", ".", ".z"}, {"..", "...y", ".", ".z"}},
        {"dots inside only", {"a..", "b ..", ""}, {"a..", "b ..", ""}},
        {"every line", {"..a", "..b", "..c"}, {".a", ".b", ".c"}},
        {"empty", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto text = MessageText::FromLines(c.stuffed);
        text.RemoveDotStuffing();
        ExpectHolds(text, c.plain);
        // Later lines still append in the right place.
        text.push_back("..after");
        Lines expected = c.plain;
        expected.push_back("..after");
        ExpectHolds(text, expected);
    }
}

TEST(MessageText, EraseFrontKeepsTheRestAddressable) {
    const Lines lines = {"Subject: s", "", "body 1", "", "body 2"};
    for (std::size_t count : {0u, 1u, 2u, 4u, 5u, 9u}) {
        SCOPED_TRACE(count);
        auto text = MessageText::FromLines(lines);
        text.EraseFront(count);
        const Lines rest(lines.begin() + static_cast<std::ptrdiff_t>(std::min(count, lines.size())),
                         lines.end());
        ExpectHolds(text, rest);
        EXPECT_EQ(text.Lines(), rest);
    }
}

TEST(MessageText, ClearedTextStartsAgain) {
    MessageText text;
    text.Reserve(4 << 20);
    text.push_back(std::string(3 << 20, 'x'));
    text.clear();
    EXPECT_TRUE(text.empty());
    text.push_back("next");
    ExpectHolds(text, {"next"});
}

TEST(MessageLines, HeaderThenBodyReadAsOneMessage) {
    const Lines header = {"From: a@b", ""};
    const auto body = MessageText::FromLines({"one", "two"});
    const MessageLines message(header, body);
    EXPECT_EQ(message.size(), 4u);
    EXPECT_EQ(message[1], "");
    EXPECT_EQ(message[2], "one");
    EXPECT_EQ(message.Lines(), (Lines{"From: a@b", "", "one", "two"}));

    const Lines alone = {"x"};
    EXPECT_EQ(MessageLines(alone).Lines(), alone);
    EXPECT_EQ(MessageLines(body).Lines(), (Lines{"one", "two"}));
    const MessageText none;
    EXPECT_TRUE(MessageLines(none).empty());
}

} // namespace
} // namespace zelm
