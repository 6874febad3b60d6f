#include "messages/header_summary.h"

#include <gtest/gtest.h>

#include <map>

#include "messages/data_file.h"

namespace zelm {
namespace {

using Lines = std::vector<std::string>;

std::map<std::string, std::string> ValuesByName(const HeaderSummary& summary) {
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < summary.fields.size(); ++i)
        values[summary.fields[i]] = summary.values.at(i);
    return values;
}

TEST(HeaderFieldList, BuiltInNamesAreSortedIgnoringCase) {
    auto fields = BuiltInHeaderFieldList();
    ASSERT_EQ(fields.size(), 10u);
    auto sorted = fields;
    SortHeaderFieldList(sorted);
    EXPECT_EQ(sorted, fields);

    fields.push_back("x-spam");
    fields.push_back("Importance");
    SortHeaderFieldList(fields);
    EXPECT_EQ(fields, (Lines{"Bcc", "Cc", "From", "Importance", "Originator", "Recipients",
                             "Reply-To", "Return-Path", "Size", "Subject", "To", "x-spam"}));
}

TEST(HeaderFieldList, StoredValueGivesItsNames) {
    EXPECT_EQ(HeaderFieldListFromStored("Cc\r\nFrom\r\n\r\nX-Priority\r\n"),
              (Lines{"Cc", "From", "X-Priority"}));
    EXPECT_TRUE(HeaderFieldListFromStored("").empty());
    EXPECT_EQ(FindFieldName({"Cc", "From", "from"}, "FROM"), std::optional<std::size_t>(1));
    EXPECT_EQ(FindFieldName({"Cc"}, "C"), std::nullopt);
}

TEST(ParseHeaders, FieldValues) {
    struct Case {
        const char* name;
        Lines lines;
        std::map<std::string, std::string> expected;
    };
    const Case cases[] = {
        {"continuation joins with one blank",
         {"Subject: Hello", " world"},
         {{"Subject", "Hello world"}}},
        {"tab continuation, several lines, trimmed",
         {"Subject:  Hello  ", "\t  big  ", "   world\t"},
         {{"Subject", "Hello big world"}}},
        {"lower-case name", {"subject: hi"}, {{"Subject", "hi"}}},
        {"blank before the colon", {"Subject : hi"}, {{"Subject", ""}}},
        {"blank before the name", {" Subject: hi"}, {{"Subject", ""}}},
        {"last occurrence wins", {"To: first@x", "To: second@x"}, {{"To", "second@x"}}},
        {"last occurrence with its own continuation",
         {"To: a@x", " b@x", "To: c@x"},
         {{"To", "c@x"}}},
        {"value keeps later colons", {"Subject: Re: re: x"}, {{"Subject", "Re: re: x"}}},
        {"empty value", {"Subject:"}, {{"Subject", ""}}},
        {"control characters trimmed", {"Subject:\x01 hi \x7f"}, {{"Subject", "hi \x7f"}}},
        {"stops at the first empty line",
         {"From: a@x", "", "Subject: in the body"},
         {{"From", "a@x"}, {"Subject", ""}}},
        {"continuation of an unknown field is no field",
         {"Received: by x", " Subject: hidden", "Cc: c@x"},
         {{"Subject", ""}, {"Cc", "c@x"}}},
        {"line without colon", {"garbage line", "Cc: c@x"}, {{"Cc", "c@x"}}},
        {"a Size line does not change the size", {"Size: 1", "size: 2"}, {{"Size", "4711"}}},
        {"Recipients keeps empty parts", {"To: t@x"}, {{"Recipients", "t@x,,"}}},
        {"Recipients of all three",
         {"Bcc: b@x", "To: t@x", "Cc: c@x"},
         {{"Recipients", "t@x,c@x,b@x"}}},
        {"Recipients line is replaced", {"Recipients: forged"}, {{"Recipients", ",,"}}},
        {"From fills Reply-To and Return-Path",
         {"From: Ann <ann@x>"},
         {{"Reply-To", "Ann <ann@x>"},
          {"Return-Path", "Ann <ann@x>"},
          {"Originator", "Ann <ann@x>,Ann <ann@x>,Ann <ann@x>"}}},
        {"Reply-To fills Return-Path",
         {"From: f@x", "Reply-To: r@x"},
         {{"Return-Path", "r@x"}, {"Originator", "f@x,r@x,r@x"}}},
        {"own Return-Path stays",
         {"From: f@x", "Return-Path: <p@x>"},
         {{"Reply-To", "f@x"}, {"Return-Path", "<p@x>"}, {"Originator", "f@x,f@x,<p@x>"}}},
        {"no recognised field at all",
         {"X-Other: 1"},
         {{"From", ""}, {"Size", "4711"}, {"Recipients", ",,"}, {"Originator", ",,"}}},
        {"no lines", {}, {{"Subject", ""}, {"Originator", ",,"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageState state;
        EXPECT_TRUE(ParseHeaders(c.lines, BuiltInHeaderFieldList(), 4711, state));
        const auto values = ValuesByName(state.headerSummary);
        for (const auto& [name, value] : c.expected)
            EXPECT_EQ(values.at(name), value) << name;
    }
}

TEST(ParseHeaders, SeparateCopiesAndVariables) {
    MessageState state;
    ParseHeaders({"From: f@x", "To: t@x", "Subject: s"}, BuiltInHeaderFieldList(), 10, state);
    const auto& summary = state.headerSummary;
    EXPECT_EQ(summary.from, "f@x");
    EXPECT_EQ(summary.to, "t@x");
    EXPECT_EQ(summary.subject, "s");
    EXPECT_EQ(summary.replyTo, "f@x");
    EXPECT_EQ(summary.returnPath, "f@x");
    EXPECT_EQ(summary.originator, "f@x,f@x,f@x");
    EXPECT_EQ(summary.size, 10);
    EXPECT_EQ(summary.Value("subject"), std::optional<std::string_view>("s"));
    EXPECT_EQ(summary.Value("X-None"), std::nullopt);
    EXPECT_EQ(state.messageVariables.values, summary.values);
}

TEST(ParseHeaders, UserFieldsAndReducedLists) {
    auto fields = BuiltInHeaderFieldList();
    fields.push_back("X-Mailer");
    fields.push_back("Importance");
    SortHeaderFieldList(fields);
    MessageState state;
    ParseHeaders({"x-mailer: Tool 1.0", "Importance: high"}, fields, 5, state);
    EXPECT_EQ(state.headerSummary.Value("X-Mailer"), std::optional<std::string_view>("Tool 1.0"));

    state.messageVariables.RebuildNames(fields, {"Amount"});
    // The user's field sits at its alphabetical place; "Header", "Body" and the text
    // variables follow the fields.
    EXPECT_EQ(state.messageVariables.names[3], "Importance");
    EXPECT_EQ(state.messageVariables.names[fields.size()], "Header");
    EXPECT_EQ(state.messageVariables.names[fields.size() + 1], "Body");
    EXPECT_EQ(state.messageVariables.names[fields.size() + 2], "Amount");
    EXPECT_EQ(state.messageVariables.Lookup("importance"), std::optional<std::string_view>("high"));

    // A list without the composed names (an edited store) parses without fault.
    MessageState reduced;
    ParseHeaders({"From: f@x", "Subject: s"}, {"Subject"}, 5, reduced);
    EXPECT_EQ(reduced.headerSummary.values, Lines{"s"});
    EXPECT_EQ(reduced.headerSummary.from, "");
    EXPECT_EQ(reduced.headerSummary.originator, ",,");

    // The same state meeting an edited list (the window's editor, mid-session) parses by the
    // new list's places, not by those it found for the last one.
    ParseHeaders({"From: f@x", "To: t@x", "Subject: s"}, {"Originator", "Size", "To"}, 7, reduced);
    EXPECT_EQ(reduced.headerSummary.values, (Lines{",,", "7", "t@x"}));
    EXPECT_EQ(reduced.headerSummary.to, "t@x");
    ParseHeaders({"From: g@x"}, {"From", "Subject"}, 8, reduced);
    EXPECT_EQ(reduced.headerSummary.values, (Lines{"g@x", ""}));
    EXPECT_EQ(reduced.headerSummary.originator, "g@x,g@x,g@x");
}

TEST(HeaderSummary, ClearedSummaryEqualsAFreshOne) {
    MessageState state;
    ParseHeaders({"From: f@x", "To: t@x", "Subject: s"}, BuiltInHeaderFieldList(), 9, state);
    state.headerSummary.Clear();
    const HeaderSummary fresh;
    const HeaderSummary& cleared = state.headerSummary;
    EXPECT_EQ(cleared.fields, fresh.fields);
    EXPECT_EQ(cleared.values, fresh.values);
    for (const auto& [copy, name] : {std::pair{&cleared.to, "to"},
                                     {&cleared.subject, "subject"},
                                     {&cleared.from, "from"},
                                     {&cleared.replyTo, "replyTo"},
                                     {&cleared.returnPath, "returnPath"},
                                     {&cleared.originator, "originator"}})
        EXPECT_TRUE(copy->empty()) << name;
    EXPECT_EQ(cleared.size, 0);
    EXPECT_EQ(cleared.Value("From"), std::nullopt);
}

TEST(ParseHeaders, AwkwardHeaderFromFile) {
    const auto lines = ReadTextLines(std::string(ZELM_TEST_DATA_DIR) + "/header_folded_8bit.txt");
    auto fields = BuiltInHeaderFieldList();
    fields.push_back("X-Spam-Score");
    SortHeaderFieldList(fields);
    MessageState state;
    ParseHeaders(lines, fields, 2048, state);
    const auto values = ValuesByName(state.headerSummary);
    const std::string from = "=?ISO-8859-1?Q?J=F6rg?= \xc4rger <joerg@example.de>";
    EXPECT_EQ(values.at("From"), from);
    EXPECT_EQ(values.at("To"), "team@example.com, boss@example.com");
    // The NUL byte is kept; the blank-only continuation adds one blank.
    EXPECT_EQ(values.at("Subject"), std::string("Quarterly \0report ", 18));
    EXPECT_EQ(values.at("Size"), "2048");
    EXPECT_EQ(values.at("X-Spam-Score"), "7.5");
    EXPECT_EQ(values.at("Return-Path"), "<bounce@lists.example.org>");
    EXPECT_EQ(values.at("Originator"), from + "," + from + ",<bounce@lists.example.org>");
    EXPECT_EQ(values.at("Recipients"), "team@example.com, boss@example.com,,");
}

TEST(MessageVariables, LookupAndReset) {
    MessageState state;
    const auto fields = BuiltInHeaderFieldList();
    state.messageVariables.RebuildNames(fields, {"Code"});
    EXPECT_EQ(state.messageVariables.Lookup("Subject"), std::optional<std::string_view>(""));
    EXPECT_EQ(state.messageVariables.Lookup("Nope"), std::nullopt);

    ParseHeaders({"Subject: one", ""}, fields, 1, state);
    const auto body = MessageText::FromLines({"body 1", "body 2"});
    AppendRetrievedValues(state.messageVariables, {"Subject: one", ""}, body);
    state.messageVariables.values.push_back("extracted");
    EXPECT_EQ(state.messageVariables.Lookup("header"),
              std::optional<std::string_view>("Subject: one\r\n\r\n"));
    EXPECT_EQ(state.messageVariables.Lookup("BODY"),
              std::optional<std::string_view>("body 1\r\nbody 2\r\n"));
    EXPECT_EQ(state.messageVariables.Lookup("code"), std::optional<std::string_view>("extracted"));

    // A second extraction on the retrieved message starts again from header and body.
    ResetRetrievedValues(state, {"Subject: one", ""}, body);
    EXPECT_EQ(state.messageVariables.values.size(), fields.size() + 2);
    EXPECT_EQ(state.messageVariables.Lookup("code"), std::optional<std::string_view>(""));

    // The next message's header drops everything of the previous one.
    ParseHeaders({"Subject: two"}, fields, 1, state);
    EXPECT_EQ(state.messageVariables.Lookup("Body"), std::optional<std::string_view>(""));
    EXPECT_EQ(state.messageVariables.Lookup("subject"), std::optional<std::string_view>("two"));
}

TEST(EnsureRetrievedWith, AddsHeaderAndBodyOnlyAfterARetrieval) {
    MessageState state;
    const auto fields = BuiltInHeaderFieldList();
    state.messageVariables.RebuildNames(fields, {});
    ParseHeaders({"Subject: s", ""}, fields, 1, state);
    const Lines header = {"Subject: s", ""};
    auto body = MessageText::FromLines({"stale body of another message"});

    EXPECT_FALSE(EnsureRetrievedWith([] { return false; }, state.messageVariables, header, body));
    EXPECT_EQ(state.messageVariables.values.size(), fields.size());
    EXPECT_EQ(state.messageVariables.Lookup("Body"), std::optional<std::string_view>(""));

    // The lists are read after the retrieval has filled them.
    EXPECT_TRUE(EnsureRetrievedWith(
        [&] {
            body = MessageText::FromLines({"fresh"});
            return true;
        },
        state.messageVariables, header, body));
    EXPECT_EQ(state.messageVariables.Lookup("Body"), std::optional<std::string_view>("fresh\r\n"));
    EXPECT_EQ(state.messageVariables.Lookup("Header"),
              std::optional<std::string_view>("Subject: s\r\n\r\n"));
}

TEST(ExtractAddress, Cases) {
    struct Case {
        std::string text;
        const char* expected;
    };
    std::string longName;
    for (int i = 0; i < 30; ++i)
        longName += "w ";
    const Case cases[] = {
        {"John Smith <john@example.com>", "john@example.com"},
        {"(john@example.com)", "john@example.com"},
        {"\"John\" <'john@example.com'>", "john@example.com"},
        {"[`a@b`]", "a@b"},
        {"no address in here", ""},
        {"", ""},
        {"a@x.com,b@y.com", "a@x.com,b@y.com"},
        {"a@x.com; b@y.com", "a@x.com;"},
        {"  two  blanks  c@d  ", "c@d"},
        {"first@a second@b", "first@a"},
        {"tab\tjoined@x", "tab\tjoined@x"},
        // Past the 25th word an address is still found.
        {longName + "late@x.com", "late@x.com"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExtractAddress(c.text), c.expected);
    }
}

TEST(ExpandRecipients, Cases) {
    struct Case {
        const char* list;
        Lines expected;
    };
    const Case cases[] = {
        {"{Reply-To},plain@x.com", {"reply@x.com", "plain@x.com"}},
        {"plain@x.com, {From}", {"plain@x.com", ""}},
        {"{from}", {"from@x.com"}},
        {"{Unknown}", {""}},
        {"{Recipients}", {"to@x.com,,"}},
        {"{", {""}},
        {"", {""}},
        {"a@x,,b@x", {"a@x", "", "b@x"}},
        {"Name <n@x>,{Subject}", {"n@x", ""}},
    };
    MessageState state;
    const auto fields = BuiltInHeaderFieldList();
    state.messageVariables.RebuildNames(fields, {});
    ParseHeaders({"From: from@x.com", "Reply-To: Reply Person <reply@x.com>", "To: to@x.com",
                  "Subject: no address"},
                 fields, 1, state);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        state.recipientList = {"left over"};
        ExpandRecipients(c.list, state);
        EXPECT_EQ(state.recipientList, c.expected);
    }
}

} // namespace
} // namespace zelm
