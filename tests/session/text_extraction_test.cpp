#include "session/text_extraction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/string_helpers.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using Lines = std::vector<std::string>;

struct Case {
    const char* name;
    Lines routine;
    Lines body;
    Lines expected;
};

void RunCases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunExtractionRoutine(c.routine, c.body), c.expected);
    }
}

TEST(RunExtractionRoutine, Movements) {
    RunCases({
        {"order number after a label",
         {"Go to string in msg: Order:", "Forward # of chars: 6", "Text extraction start",
          "Go to line end", "Text extraction end (order)"},
         {"Hello", "Order: 1234", "Bye"},
         {"1234"}},
        {"a second search for the text under the cursor stays",
         {"Go to string in line: key", "Go to string in line: key", "Text extraction start",
          "Go to line end", "Text extraction end (a)"},
         {"abc key def key"},
         {"key def key"}},
        {"a search in the line starts at the cursor",
         {"Go to string in line: y=", "Go to string in line: x=", "Text extraction start",
          "Forward # of chars: 3", "Text extraction end (a)"},
         {"x=1 y=2 x=3 y=4"},
         {"x=3"}},
        {"a search in the message starts at the cursor, then the next lines",
         {"Go to string in msg: ab", "Forward # of chars: 1", "Go to string in msg: ab",
          "Text extraction start", "Go to line end", "Text extraction end (a)",
          "Go to string in msg: ab", "Text extraction start", "Go to line end",
          "Text extraction end (b)"},
         {"ab ab", "xx ab"},
         {"ab", "ab"}},
        {"a search from the end of a line goes on at the next line",
         {"Go to line end", "Go to string in msg: a", "Text extraction start", "Go to msg end",
          "Text extraction end (a)"},
         {"aaa", "", "bab"},
         {"ab"}},
        {"searches are case-sensitive",
         {"Go to string in line: ORDER", "Text extraction start", "Go to line start",
          "Forward # of chars: 2", "Text extraction end (a)"},
         {"Order 1"},
         {""}},
        {"a text not in the line leaves the cursor at its end",
         {"Forward # of lines: 1", "Go to string in line: zzz", "Text extraction end (a)"},
         {"one", "two"},
         {"one\r\ntwo"}},
        {"a text found nowhere leaves the cursor at the message end",
         {"Text extraction start", "Go to string in msg: zzz", "Text extraction end (a)"},
         {"a", "b c"},
         {"a\r\nb c"}},
        {"an empty search text matches at the cursor",
         {"Forward # of chars: 1", "Go to string in line:", "Text extraction start",
          "Go to line end", "Text extraction end (a)"},
         {"abc"},
         {"bc"}},
        {"an empty search text finds nothing after a line's end",
         {"Go to line end", "Go to string in msg:", "Text extraction start", "Go to line end",
          "Text extraction end (a)"},
         {"abc", "def"},
         {"def"}},
        {"the argument is what follows the first colon, trimmed",
         {"Go to string in msg:   a:b  \t", "Text extraction start", "Go to line end",
          "Text extraction end (a)"},
         {"x a:b y"},
         {"a:b y"}},
        {"forward past the line end stops after its last character",
         {"Forward # of chars: 100", "Text extraction end (a)", "Back # of chars: 100",
          "Text extraction start", "Forward # of chars: 3", "Text extraction end (b)"},
         {"0123456789", "next"},
         {"0123456789", "012"}},
        {"a count that is not a number moves no line but goes to the line start",
         {"Go to line end", "Forward # of lines: abc", "Text extraction start", "Go to line end",
          "Text extraction end (a)"},
         {"first line", "second"},
         {"first line"}},
        {"a count is decimal: a plus sign or hexadecimal counts as 0",
         {"Forward # of chars: +2", "Text extraction start", "Forward # of chars: $2",
          "Forward # of chars: 0x2", "Forward # of chars: x2", "Forward # of chars: 02",
          "Text extraction end (a)"},
         {"abcdef"},
         {"ab"}},
        {"line moves are clamped to the body",
         {"Forward # of lines: 99", "Text extraction start", "Go to line end",
          "Text extraction end (a)", "Back # of lines: 99", "Text extraction start",
          "Go to line end", "Text extraction end (b)"},
         {"one", "two", "three"},
         {"three", "one"}},
        {"go to msg end and msg start",
         {"Go to msg end", "Go to msg start", "Forward # of chars: 1", "Text extraction start",
          "Go to msg end", "Text extraction end (a)"},
         {"abc", "last line"},
         {"bc\r\nlast line"}},
        {"unknown, lower-case and empty lines do nothing",
         {"go to msg end", "", "Goto line end", "Forward # of chars 5", "Text extraction end (a)"},
         {"abc"},
         {""}},
    });
}

TEST(RunExtractionRoutine, Cuts) {
    RunCases({
        {"a cut over three lines keeps inner blanks, trims the two ends",
         {"Go to string in msg: A", "Text extraction start", "Forward # of lines: 2",
          "Go to string in line: end", "Text extraction end (a)"},
         {"head A  ", "  middle  ", "  tail end"},
         {"A  \r\n  middle  \r\n  tail"}},
        {"blanks and control characters are trimmed",
         {"Text extraction start", "Go to line end", "Text extraction end (a)"},
         {"\t value \x01"},
         {"value"}},
        {"two ends after one start both cut from it",
         {"Text extraction start", "Forward # of chars: 3", "Text extraction end (a)",
          "Forward # of chars: 2", "Text extraction end (b)"},
         {"abcdefg"},
         {"abc", "abcde"}},
        {"an end before the start in one line cuts nothing",
         {"Go to line end", "Text extraction start", "Go to line start", "Text extraction end (a)"},
         {"abc"},
         {""}},
        {"an end on a line before the start cuts nothing",
         {"Forward # of lines: 1", "Forward # of chars: 2", "Text extraction start",
          "Back # of lines: 1", "Forward # of chars: 2", "Text extraction end (a)"},
         {"abc", "def"},
         {""}},
        {"a start at a line end gives the lines after it",
         {"Go to line end", "Text extraction start", "Forward # of lines: 1", "Go to line end",
          "Text extraction end (a)"},
         {"abc", "def"},
         {"def"}},
        {"a later start replaces the mark",
         {"Text extraction start", "Forward # of chars: 2", "Text extraction start",
          "Go to line end", "Text extraction end (a)"},
         {"abcd"},
         {"cd"}},
    });
}

// The cases the routine text leaves open: the cursor must stay inside the message.
TEST(RunExtractionRoutine, SoundEdges) {
    RunCases({
        {"an end without a start cuts from the message start",
         {"Go to string in msg: orl", "Text extraction end (a)"},
         {"hello", "world"},
         {"hello\r\nw"}},
        {"negative counts keep the cursor in the message",
         {"Forward # of lines: 1", "Forward # of lines: -5", "Text extraction start",
          "Forward # of chars: -3", "Go to line end", "Text extraction end (a)",
          "Back # of lines: -99", "Back # of chars: -100", "Text extraction end (b)"},
         {"one", "two", "three"},
         {"one", "one\r\ntwo\r\nthree"}},
        {"extreme counts",
         {"Forward # of lines: 2147483647", "Back # of chars: -2147483648", "Text extraction start",
          "Back # of lines: 2147483647", "Forward # of chars: -2147483648",
          "Text extraction end (a)"},
         {"one", "two"},
         {""}},
        {"an empty body: every command leaves a valid cursor, every cut is empty",
         {"Go to msg end", "Text extraction start", "Go to string in msg: x",
          "Go to string in line: x", "Go to string in msg:", "Forward # of lines: 3",
          "Back # of lines: -3", "Forward # of chars: 5", "Back # of chars: -5", "Go to line end",
          "Text extraction end (a)", "Go to msg start", "Go to line start",
          "Text extraction end (b)"},
         {},
         {"", ""}},
        {"a body of one empty line",
         {"Go to string in msg:", "Forward # of chars: 4", "Text extraction end (a)"},
         {""},
         {""}},
    });
}

TEST(RunExtractionRoutine, NoRoutineNoValues) {
    EXPECT_TRUE(RunExtractionRoutine({}, Lines{"abc"}).empty());
    EXPECT_TRUE(RunExtractionRoutine(Lines{"Go to msg end"}, Lines{"abc"}).empty());
}

TEST(TextVariableNames, FromEndLines) {
    struct NameCase {
        const char* line;
        const char* expected;
    };
    const NameCase cases[] = {
        {"Text extraction end (a)", "a"},  {"Text extraction end (order no)", "order no"},
        {"Text extraction end ()", ""},    {"Text extraction end", ""},
        {"Text extraction start (a)", ""}, {"Go to msg end", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(TextVariableName(c.line), c.expected);
    }
    const Lines routine{"Text extraction start (a)", "Text extraction end (a)",
                        "Text extraction start (b)", "Text extraction end (b)"};
    EXPECT_EQ(JoinListValue(TextVarNamesOf(routine)), "a\r\nb\r\n");
}

TEST(TextVariableNames, PairByPositionOnly) {
    const Lines names{"first", "second"};
    const auto variables = PairTextVariables(names, Lines{"one"});
    ASSERT_EQ(variables.size(), 2U);
    EXPECT_EQ(variables[0].name, "first");
    EXPECT_EQ(variables[0].value, "one");
    EXPECT_EQ(variables[1].name, "second");
    EXPECT_EQ(variables[1].value, "");
    EXPECT_EQ(PairTextVariables(Lines{"only"}, Lines{"one", "two"}).size(), 1U);
}

TEST(ExtractionVariableValues, DropsEarlierExtractedValues) {
    const Lines header{"bob", "hi"};
    const auto first = ExtractionVariableValues(header, "H\r\n", "B\r\n", Lines{"x", "y"});
    EXPECT_EQ(first, (Lines{"bob", "hi", "H\r\n", "B\r\n", "x", "y"}));
    // A second filter's extraction starts again from the header values, Header and Body.
    EXPECT_EQ(ExtractionVariableValues(header, "H\r\n", "B\r\n", Lines{"z"}),
              (Lines{"bob", "hi", "H\r\n", "B\r\n", "z"}));
}

class ExtractionStore : public ::testing::Test {
protected:
    test::TempHome m_home;
    SettingsDb m_db{m_home.File("settings.db")};
};

TEST_F(ExtractionStore, RunExtractionReadsTheFiltersRoutine) {
    WriteRegString(
        m_db, FilterKeyPath("home", "orders"), "TextExtract",
        JoinListValue({"Go to string in msg: Order:", "Forward # of chars: 6",
                       "Text extraction start", "Go to line end", "Text extraction end (order)"}));
    CreateFilter(m_db, "home", "plain");
    const Lines body{"Order: 1234"};
    EXPECT_EQ(RunExtraction(m_db, "home", "orders", body), Lines{"1234"});
    EXPECT_TRUE(RunExtraction(m_db, "home", "plain", body).empty());
    EXPECT_TRUE(RunExtraction(m_db, "home", "missing", body).empty());
    EXPECT_TRUE(RunExtraction(m_db, "other", "orders", body).empty());
    EXPECT_TRUE(RunExtraction(m_db, "home", "", body).empty());
}

} // namespace
} // namespace zelm
