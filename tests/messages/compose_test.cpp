#include "messages/compose.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/program_info.h"
#include "core/zelm_error.h"
#include "tests/support/recording_ui.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

/// Sets TZ for one test and puts the old value back.
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone() {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

private:
    std::optional<std::string> m_old;
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

std::string Base64Decode(const std::vector<std::string>& lines) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned buffer = 0;
    int bits = 0;
    for (const auto& line : lines) {
        for (char c : line) {
            if (c == '=') break;
            buffer = (buffer << 6) | static_cast<unsigned>(alphabet.find(c));
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                bytes += static_cast<char>((buffer >> bits) & 0xff);
            }
        }
    }
    return bytes;
}

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

/// Variables as a parsed message gives them: the built-in fields, "Header", "Body", and one
/// text variable "Extract".
MessageState SampleMessage() {
    MessageState state;
    const HeaderFieldList fields = BuiltInHeaderFieldList();
    ParseHeaders({"From: Ann Smith <ann@example.com>", "Subject: {Subject} and more",
                  "To: me@example.org", ""},
                 fields, 1234, state);
    state.messageVariables.RebuildNames(fields, {"Extract"});
    // "Body" reads the text where it lies, so it lives as long as the tests.
    static const MessageText body = MessageText::FromLines({"line one", "line two"});
    AppendRetrievedValues(state.messageVariables, {"From: Ann Smith <ann@example.com>", ""}, body);
    state.messageVariables.values.push_back("{From}");
    return state;
}

TEST(SubstitutePlaceholders, Table) {
    const ScopedZone zone("UTC0");
    const std::time_t now = Utc(2026, 12, 5, 15, 30, 7);
    const MessageState state = SampleMessage();
    const std::string from = "Ann Smith <ann@example.com>";
    struct Case {
        const char* line;
        std::string expected;
    };
    const Case cases[] = {
        {"Hi {From}!", "Hi " + from + "!"},
        {"{ from }", from},
        {"{datestamp}", "Sat, 05 Dec 26"},
        {"{ DateStamp }/{TIMESTAMP}", "Sat, 05 Dec 26/15:30:07"},
        {"{Cc}", "{Cc}"}, // empty value: stays as written
        {"{Unknown} {From}", "{Unknown} " + from},
        {"{From", "{From"}, // no closing brace
        {"a}{From}b", "a}" + from + "b"},
        {"{{From}}", "{" + from + "}"}, // "{From" is no name; the search goes on at the next "{"
        {"{Size} bytes", "1234 bytes"},
        // A value is never scanned again: no loop, no second substitution.
        {"{Subject}", "{Subject} and more"},
        {"{Extract}{From}", "{From}" + from},
        {"{Body}", "line one\r\nline two\r\n"},
        {"", ""},
        {"no braces", "no braces"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SubstitutePlaceholders(c.line, state.messageVariables, now), c.expected);
    }
}

TEST(SubstitutePlaceholders, ManyUnclosedBracesStayLinear) {
    const MessageState state = SampleMessage();
    for (const std::string& line : {std::string(200000, '{'), std::string(200000, '{') + "}",
                                    std::string(100000, '{') + std::string(100000, ' ') + "}"})
        EXPECT_EQ(SubstitutePlaceholders(line, state.messageVariables, 0), line);
}

TEST(FormatRfc822Date, ZonesAndFields) {
    struct Case {
        const char* zone;
        std::time_t moment;
        const char* expected;
    };
    const Case cases[] = {
        {"UTC0", Utc(2026, 12, 5, 15, 30, 7), "Sat, 5 Dec 2026 15:30:07 GMT"},
        {"<+01>-1", Utc(2026, 12, 5, 14, 30, 7), "Sat, 5 Dec 2026 15:30:07 +0100"},
        // One hour behind UTC, no daylight saving time.
        {"<-01>1", Utc(2026, 1, 1, 0, 5, 9), "Wed, 31 Dec 2025 23:05:09 -0100"},
        {"<+0530>-5:30", Utc(2026, 3, 10, 0, 0, 0), "Tue, 10 Mar 2026 05:30:00 +0530"},
        {"<-0330>3:30", Utc(2026, 7, 20, 12, 0, 0), "Mon, 20 Jul 2026 08:30:00 -0330"},
        // Daylight saving time in effect counts in the offset.
        {"CET-1CEST,M3.5.0,M10.5.0/3", Utc(2026, 7, 1, 10, 0, 0), "Wed, 1 Jul 2026 12:00:00 +0200"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", Utc(2026, 1, 1, 10, 0, 0), "Thu, 1 Jan 2026 11:00:00 +0100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        const ScopedZone zone(c.zone);
        EXPECT_EQ(FormatRfc822Date(c.moment), c.expected);
    }
}

class ComposeFiles : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return m_home.File(name); }

    std::vector<std::string> Encode(const std::string& bytes) {
        WriteFile(Path("blob"), bytes);
        std::vector<std::string> lines;
        EncodeFileBase64(Path("blob"), lines);
        return lines;
    }

    test::TempHome m_home;
};

TEST_F(ComposeFiles, Base64KnownVectors) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"f", {"Zg=="}},
        {"fo", {"Zm8="}},
        {"foo", {"Zm9v"}},
        {"foob", {"Zm9vYg=="}},
        {"fooba", {"Zm9vYmE="}},
        {"foobar", {"Zm9vYmFy"}},
        {std::string("\0\xff\xfe", 3), {"AP/+"}},
        // 57 bytes are exactly one full line of 76 characters.
        {std::string(57, 'a'), {Repeat("YWFh", 19)}},
        {std::string(60, 'a'), {Repeat("YWFh", 19), "YWFh"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(Encode(c.bytes), c.lines);
    }
}

TEST_F(ComposeFiles, Base64FiftyEightBytesGiveTwoLines) {
    const auto lines = Encode(std::string(58, 'x'));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 76u);
    EXPECT_EQ(lines[1], "eA==");
}

TEST_F(ComposeFiles, Base64LargeFileRoundTripsAcrossReadBlocks) {
    // Every byte value, and a size that is no multiple of the read block or of a line.
    std::mt19937 random(7);
    std::string bytes(57 * 16384 * 2 + 1000, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random());
    std::vector<std::string> lines{"kept"};
    WriteFile(Path("big"), bytes);
    EncodeFileBase64(Path("big"), lines);
    ASSERT_EQ(lines.front(), "kept");
    lines.erase(lines.begin());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        ASSERT_EQ(lines[i].size(), 76u) << "line " << i;
    EXPECT_EQ(lines.size(), (bytes.size() + 56) / 57);
    EXPECT_EQ(Base64Decode(lines), bytes);
}

TEST_F(ComposeFiles, Base64MissingFileIsAnError) {
    std::vector<std::string> lines;
    EXPECT_THROW(EncodeFileBase64(Path("missing"), lines), ZelmError);
}

TEST(AttachmentFileName, Paths) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"/home/ann/report.pdf", "report.pdf"},
        {"report.pdf", "report.pdf"},
        {"C:\\Documents\\report.pdf", "report.pdf"},
        {"C:report.pdf", "report.pdf"},
        {"\\\\server\\share\\notes", "notes"},
        // On Linux "\" and ":" are ordinary name characters once a "/" shows the path's kind.
        {"/tmp/a:b\\c.txt", "a:b\\c.txt"},
        {"/tmp/dir/", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(AttachmentFileName(c.path), c.name);
    }
}

class ComposeMessageTest : public ComposeFiles {
protected:
    ComposeMessageTest() : m_zone("<+01>-1") {}

    OutgoingMessage Compose(const std::string& templateText) {
        WriteFile(Path("m00001.dat"), templateText);
        return ComposeMessage(Path("m00001.dat"), m_inputs, m_state, m_ui);
    }

    /// The lines every composed message starts its header with, after the template's own.
    std::vector<std::string> Trailer() const {
        return {"Message-Id: <zelm-ann7-20261205153007@smtp.example.com>",
                "X-Mailer: " + ProgramCaption()};
    }

    ScopedZone m_zone;
    ComposeInputs m_inputs{"ann", "smtp.example.com", 7, Utc(2026, 12, 5, 14, 30, 7)};
    MessageState m_state = SampleMessage();
    test::RecordingUi m_ui;
};

TEST_F(ComposeMessageTest, PlainMessageLayout) {
    const auto message = Compose("From: bot@example.org\r\n"
                                 "Subject: Re: {Subject}\r\n"
                                 "To: {From}\r\n"
                                 "Cc: \r\n"
                                 "\r\n"
                                 "Hello {From}\r\n"
                                 "{Body}\r\n"
                                 "Bye\r\n");
    std::vector<std::string> expected = {"Date: Sat, 5 Dec 2026 15:30:07 +0100",
                                         "From: bot@example.org", "Subject: Re: {Subject} and more",
                                         "To: Ann Smith <ann@example.com>", "Cc: "};
    for (const auto& line : Trailer())
        expected.push_back(line);
    for (const char* line :
         {"", "Hello Ann Smith <ann@example.com>", "line one", "line two", "Bye"})
        expected.emplace_back(line);
    EXPECT_EQ(message, expected);
    // "{From}" was collected as written and resolved to the bare address; the empty Cc adds
    // nothing.
    EXPECT_EQ(m_state.recipientList, (RecipientList{"ann@example.com"}));
}

TEST_F(ComposeMessageTest, RecipientsFromToAndCcInTemplateOrder) {
    Compose("To: a@example.com\r\nCC: c@example.com\r\nto: b@example.com, {Reply-To}\r\n\r\nx\r\n");
    EXPECT_EQ(m_state.recipientList,
              (RecipientList{"a@example.com", "c@example.com", "b@example.com", ""}));
}

TEST_F(ComposeMessageTest, BodyEdges) {
    struct Case {
        const char* name;
        const char* templateText;
        std::vector<std::string> body;
    };
    const Case cases[] = {
        {"first body line empty", "To: a@x.org\r\n\r\n\r\nText\r\n", {"", "", "Text"}},
        {"ends with its first body line", "To: a@x.org\r\n\r\nOnly\r\n", {"", "Only", ""}},
        {"no body", "To: a@x.org\r\n\r\n", {"", "", ""}},
        {"no empty line after the header", "To: a@x.org\r\n", {"", "", ""}},
        {"LF line ends", "To: a@x.org\n\nOne\nTwo\n", {"", "One", "Two"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto message = Compose(c.templateText);
        ASSERT_GE(message.size(), 4u);
        EXPECT_EQ(message[1], "To: a@x.org");
        EXPECT_EQ(message[3], "X-Mailer: " + ProgramCaption());
        EXPECT_EQ(std::vector<std::string>(message.begin() + 4, message.end()), c.body);
    }
}

TEST_F(ComposeMessageTest, MultiLineValueInHeaderCannotAddHeaderLines) {
    // A body value smuggled into the Subject must stay inside that field: no empty line may
    // end the header early and no line may start a field of its own.
    m_state.messageVariables.values.back() = "x\r\n\r\nBcc: victim@example.net\r\n.\r\n";
    const auto message = Compose("Subject: {Extract}\r\nTo: a@x.org\r\n\r\nBody\r\n");
    const std::vector<std::string> expected = {"Date: Sat, 5 Dec 2026 15:30:07 +0100",
                                               "Subject: x",
                                               " Bcc: victim@example.net",
                                               " .",
                                               "To: a@x.org",
                                               Trailer()[0],
                                               Trailer()[1],
                                               "",
                                               "Body",
                                               ""};
    EXPECT_EQ(message, expected);
}

TEST_F(ComposeMessageTest, PlaceholderLineWhoseValueStartsEmptyKeepsTheHeader) {
    // A header line that is only a placeholder: the value's leading empty lines must not end
    // the header there, and a value of blank lines adds no header line at all.
    m_state.messageVariables.values.back() = "\r\n \r\nNote: text\r\nmore\r\n";
    m_state.messageVariables.values.front() = "\r\n\r\n"; // Bcc
    const auto message = Compose("{Extract}\r\n{Bcc}\r\nTo: a@x.org\r\n\r\nBody\r\n");
    const std::vector<std::string> expected = {"Date: Sat, 5 Dec 2026 15:30:07 +0100",
                                               "Note: text",
                                               " more",
                                               "To: a@x.org",
                                               Trailer()[0],
                                               Trailer()[1],
                                               "",
                                               "Body",
                                               ""};
    EXPECT_EQ(message, expected);
}

TEST_F(ComposeMessageTest, LastHeaderLineGoesRightBeforeTheHeadersEnd) {
    WriteFile(Path("payload"), "abc");
    for (const std::string& body :
         {std::string("Body\r\n"), "Attachment: " + Path("payload") + "\r\nBody\r\n"}) {
        SCOPED_TRACE(body);
        auto message = Compose("To: a@x.org\r\n\r\n" + body);
        const auto headerEnd = std::find(message.begin(), message.end(), std::string());
        const auto headerSize = headerEnd - message.begin();
        AddLastHeaderLine(message, "Auto-Submitted: auto-replied");
        ASSERT_GT(message.size(), static_cast<std::size_t>(headerSize + 1));
        EXPECT_EQ(message[headerSize], "Auto-Submitted: auto-replied");
        EXPECT_EQ(message[headerSize + 1], "");
    }
}

TEST_F(ComposeMessageTest, AttachmentLayout) {
    const std::string bytes(58, '\x01');
    WriteFile(Path("payload"), bytes);
    const auto message =
        Compose("From: bot@example.org\r\nTo: a@x.org\r\n\r\nAttachment: " + Path("payload") +
                "  \r\nSee {Size}\r\n");
    std::vector<std::string> expected = {"Date: Sat, 5 Dec 2026 15:30:07 +0100",
                                         "From: bot@example.org", "To: a@x.org"};
    for (const auto& line : Trailer())
        expected.push_back(line);
    std::vector<std::string> lines;
    EncodeFileBase64(Path("payload"), lines);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : std::vector<std::string>{
             "MIME-Version: 1.0",
             "Content-Type: multipart/mixed; boundary=\"ZELM_Message_Boundary\"",
             "Content-Transfer-Encoding: 7bit",
             "",
             "--ZELM_Message_Boundary",
             "Content-Type: text/plain; charset=US-ASCII",
             "Content-disposition: inline",
             "",
             "See 1234",
             "--ZELM_Message_Boundary",
             "Content-Type: application/octet-stream; name=\"payload\"",
             "Content-Transfer-Encoding: base64",
             "Content-disposition: attachment; filename=\"payload\"",
             "",
             lines[0],
             lines[1],
             "",
             "--ZELM_Message_Boundary--",
         })
        expected.push_back(line);
    EXPECT_EQ(message, expected);
    EXPECT_TRUE(lines[1].ends_with("=="));

    // The panel says "Encoding" while the file is encoded and is cleared afterwards.
    EXPECT_EQ(m_ui.panelHistory[2], (std::vector<std::string>{"Encoding", ""}));
}

TEST_F(ComposeMessageTest, AttachmentOnlyBodyGetsOneEmptyLine) {
    WriteFile(Path("notes.txt"), "hi");
    const auto message = Compose("To: a@x.org\r\n\r\nattachment:" + Path("notes.txt"));
    const auto part = std::find(message.begin(), message.end(), "Content-disposition: inline");
    ASSERT_NE(part, message.end());
    EXPECT_EQ(*(part + 1), "");
    EXPECT_EQ(*(part + 2), "");
    EXPECT_EQ(*(part + 3), "--ZELM_Message_Boundary");
    EXPECT_EQ(*(part + 5), "Content-Transfer-Encoding: base64");
    EXPECT_EQ(*(part + 6), "Content-disposition: attachment; filename=\"notes.txt\"");
    EXPECT_EQ(*(part + 8), "aGk=");
}

TEST_F(ComposeMessageTest, RelativeAttachmentPathLiesBesideTheTemplate) {
    // The home folder holds the templates; the folder the program was started from must not
    // matter.
    WriteFile(Path("notes.txt"), "hi");
    const auto message = Compose("To: a@x.org\r\n\r\nAttachment: notes.txt\r\n");
    EXPECT_NE(std::find(message.begin(), message.end(), "aGk="), message.end());
    EXPECT_NE(
        std::find(message.begin(), message.end(), "Content-Type: text/plain; name=\"notes.txt\""),
        message.end());
}

TEST_F(ComposeMessageTest, UnreadableFilesAreErrorsAndChangeNothing) {
    m_state.recipientList = {"before@example.com"};
    EXPECT_THROW(ComposeMessage(Path("m00009.dat"), m_inputs, m_state, m_ui), ZelmError);
    EXPECT_THROW(Compose("To: a@x.org\r\n\r\nAttachment: " + Path("missing") + "\r\n"), ZelmError);
    EXPECT_THROW(Compose("To: a@x.org\r\n\r\nAttachment:\r\n"), ZelmError);
    EXPECT_EQ(m_state.recipientList, (RecipientList{"before@example.com"}));
    EXPECT_EQ(m_ui.panels[2], "");
}

} // namespace
} // namespace zelm
