#include "session/filter_evaluation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config_store.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

// The built-in field list plus two user-added names, with one message's values.
struct Message {
    std::vector<std::string> names{"Bcc",        "Cc",       "From",        "Originator",
                                   "Recipients", "Reply-To", "Return-Path", "Size",
                                   "Subject",    "To",       "X-Mailer",    "X-Tag"};
    std::vector<std::string> values{"",
                                    "",
                                    "Bob.Smith <bob@example.com>",
                                    "Bob.Smith <bob@example.com>,,",
                                    ",,",
                                    "",
                                    "",
                                    "5000",
                                    "Monthly REPORT",
                                    "",
                                    "",
                                    "a`b c Caf\xC3\xA9"};

    FilterMessage View(std::int64_t size = 5000) const { return {names, values, size}; }
};

TEST(EvaluateCondition, FieldAndSizeTests) {
    struct Case {
        const char* condition;
        bool expected;
    };
    const Case cases[] = {
        // Case-insensitive substring test of the value.
        {"From contains `bob`", true},
        {"Subject contains `report`", true},
        {"Subject contains `Monthly REPORT`", true},
        {"Subject contains `Monthly REPORTS`", false},
        {"Subject does not contain `x`", true},
        {"Subject does not contain `month`", false},
        // An empty value contains nothing, not even the empty text.
        {"To contains ``", false},
        {"To does not contain ``", true},
        {"Subject contains ``", true},
        {"Subject does not contain ``", false},
        // A field the message lacks but the list names.
        {"X-Mailer contains `a`", false},
        {"X-Mailer does not contain `a`", true},
        // A field the list does not name: false both ways.
        {"X-Unknown contains `a`", false},
        {"X-Unknown does not contain `a`", false},
        // Field names and comparisons are exact: case, blanks.
        {"subject contains `report`", false},
        {"Subject  contains `report`", false},
        {"Subject Contains `report`", false},
        // The text is everything between the first and the last backquote.
        {"X-Tag contains `a`b c`", true},
        {"X-Tag contains `A`B`", true},
        // Only A to Z fold; other bytes must match exactly.
        {"X-Tag contains `CAF\xC3\xA9`", true},
        {"X-Tag contains `caf\xC3\x89`", false},
        // Size: strictly greater, less or equal.
        {"Size is greater than `5000`", false},
        {"Size is greater than `4999`", true},
        {"Size is less than `5000`", true},
        {"Size is less than `4999`", false},
        // Size as a text field.
        {"Size contains `50`", true},
        // A Size text that is not a number is false, never an error.
        {"Size is greater than `abc`", false},
        {"Size is less than `abc`", false},
        {"Size is less than ``", false},
        {"Size is less than `99999999999`", false},
        {"Size is greater than `5000 `", false},
        {"Size is greater than", false},
        {"Size is less than `", false},
        {"", false},
    };
    const Message message;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.condition);
        EXPECT_EQ(EvaluateCondition(c.condition, message.View()), c.expected);
    }
}

TEST(EvaluateCondition, SizeComparesTheMessageSizeNotTheFieldText) {
    const Message message;
    EXPECT_TRUE(EvaluateCondition("Size is greater than `6000`", message.View(7000)));
    EXPECT_FALSE(EvaluateCondition("Size is less than `6000`", message.View(7000)));
    // Sizes beyond 32 bits still compare.
    EXPECT_TRUE(EvaluateCondition("Size is greater than `2147483647`", message.View(1LL << 33)));
}

TEST(EvaluateCondition, MissingValuesReadAsEmpty) {
    const std::vector<std::string> names{"From", "Subject"};
    const std::vector<std::string> values{"bob"};
    const FilterMessage message{names, values, 0};
    EXPECT_TRUE(EvaluateCondition("From contains `BOB`", message));
    EXPECT_FALSE(EvaluateCondition("Subject contains ``", message));
    EXPECT_TRUE(EvaluateCondition("Subject does not contain `x`", message));
}

// Rule lines built from constant conditions: T is true, F is false for Message.
std::string Line(const char* connector, bool condition) {
    return std::string(connector) +
           (condition ? "Subject contains `report`" : "Subject contains `zzz`") + "\r\n";
}

TEST(EvaluateRules, LeftToRightWithoutPrecedence) {
    const char* none = "      ";
    const char* andc = "AND   ";
    const char* orc = "OR    ";
    struct Case {
        const char* name;
        std::string rules;
        bool expected;
    };
    const Case cases[] = {
        {"no lines", "", false},
        {"only blank lines", "\r\n      \r\n\r\n", false},
        {"one true line", Line(none, true), true},
        {"one false line", Line(none, false), false},
        {"(T or F) and F", Line(none, true) + Line(orc, false) + Line(andc, false), false},
        {"(F or T) and T", Line(none, false) + Line(orc, true) + Line(andc, true), true},
        {"(T and F) or T", Line(none, true) + Line(andc, false) + Line(orc, true), true},
        {"(T and F) or F", Line(none, true) + Line(andc, false) + Line(orc, false), false},
        {"blank first line, then AND T", "\r\n" + Line(andc, true), false},
        {"blank first line, then OR T", "\r\n" + Line(orc, true), true},
        {"blank first line, then no connector", "      \r\n" + Line(none, true), true},
        {"connector of line 1 is not looked at", Line(andc, true), true},
        {"lower-case and is ignored after F", Line(none, false) + Line("and   ", true), false},
        {"lower-case and is ignored after T", Line(none, true) + Line("and   ", false), true},
        {"unknown connector is ignored", Line(none, false) + Line("XOR   ", true), false},
        {"no connector acts as OR", Line(none, false) + Line(none, true), true},
        {"no final CR LF", Line(none, true).substr(0, Line(none, true).size() - 2), true},
        {"lone LF between lines", "      Subject contains `zzz`\n" + Line(andc, true), false},
        {"condition trimmed", "OR        Subject contains `report`  \r\n", true},
        {"line shorter than the connector column", Line(none, false) + "OR\r\n", false},
    };
    const Message message;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EvaluateRules(c.rules, message.View()), c.expected);
    }
}

TEST(EvaluateRules, FromAndSubjectExample) {
    const std::string rules = "      From contains `bob`\r\n"
                              "AND   Subject contains `report`\r\n";
    Message matching;
    EXPECT_TRUE(EvaluateRules(rules, matching.View()));
    Message other;
    other.values[2] = "bob@example.com";
    other.values[8] = "Hello";
    EXPECT_FALSE(EvaluateRules(rules, other.View()));
}

// A throwaway home folder holding a settings database.
class FilterStore : public ::testing::Test {
protected:
    test::TempHome m_home;
    SettingsDb m_db{m_home.File("settings.db")};
};

TEST_F(FilterStore, EvaluateFilterReadsTheMailboxsRules) {
    WriteRegString(m_db, FilterKeyPath("home", "reports"), "Rules",
                   "      Subject contains `report`\r\n");
    WriteRegString(m_db, FilterKeyPath("home", "empty"), "Rules", "");
    CreateFilter(m_db, "home", "created");
    WriteRegString(m_db, FilterKeyPath("other", "mine"), "Rules",
                   "      Subject contains `report`\r\n");
    const Message message;
    EXPECT_TRUE(EvaluateFilter(m_db, "home", "reports", message.View()));
    // Filter names compare without regard to case.
    EXPECT_TRUE(EvaluateFilter(m_db, "HOME", "REPORTS", message.View()));
    EXPECT_FALSE(EvaluateFilter(m_db, "home", "empty", message.View()));
    EXPECT_FALSE(EvaluateFilter(m_db, "home", "created", message.View()));
    EXPECT_FALSE(EvaluateFilter(m_db, "home", "deleted", message.View()));
    EXPECT_FALSE(EvaluateFilter(m_db, "home", "", message.View()));
    // Filters belong to one mailbox.
    EXPECT_FALSE(EvaluateFilter(m_db, "home", "mine", message.View()));
    EXPECT_FALSE(EvaluateFilter(m_db, "nowhere", "reports", message.View()));
}

} // namespace
} // namespace zelm
