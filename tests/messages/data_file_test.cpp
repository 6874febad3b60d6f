#include "messages/data_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/zelm_error.h"

namespace zelm {
namespace {

namespace fs = std::filesystem;

// A fresh home folder per test, removed afterwards.
class DataFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zelm-datafile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_home = pattern + "/";
    }
    void TearDown() override { fs::remove_all(m_home); }

    std::string Path(const std::string& name) const { return m_home + name; }

    static std::string Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    std::string m_home;
};

// --- Sections ---------------------------------------------------------------------------

TEST_F(DataFileTest, WrittenLinesReadBackExactly) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"one"},
        {"a", "b", "c"},
        {""},
        {"", ""},
        {"a", ""},
        {"  padded  ", "\tTab"},
        {"[Other] inside", "# not the end", "#### "},
        {"8-bit \xe4\xf6\xfc", std::string("nul\0byte", 8)},
    };
    for (const auto& lines : cases) {
        SCOPED_TRACE(::testing::PrintToString(lines));
        const auto path = Path("box.dat");
        std::filesystem::remove(path);
        WriteSection(path, "Accept List", lines);
        WriteSection(path, "Cache", {"id1"});
        EXPECT_EQ(ReadSectionLines(path, "Accept List"), lines);
        EXPECT_EQ(ReadSectionLines(path, "Cache"), std::vector<std::string>{"id1"});
    }
}

TEST_F(DataFileTest, ASectionEndLineIsLeftOutSoTheRestSurvives) {
    // A line "####" (a list entry, or a message id a server sent) would end the section early.
    const auto path = Path("box.dat");
    WriteSection(path, "Cache", {"a", "####", "b"});
    WriteSection(path, "Accept List", {"x"});
    WriteSection(path, "Cache", {"a", "b", "####"});
    EXPECT_EQ(ReadSectionLines(path, "Cache"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ReadSectionLines(path, "Accept List"), std::vector<std::string>{"x"});
    EXPECT_EQ(Bytes(path),
              "[Cache]\r\na\r\nb\r\n\r\n####\r\n\r\n[Accept List]\r\nx\r\n\r\n####\r\n");
}

TEST_F(DataFileTest, LargeSectionsCrossReadChunks) {
    // Lines longer than a read chunk, and enough lines that CR LF pairs fall on chunk borders.
    std::vector<std::string> cache;
    for (int i = 0; i < 40000; ++i)
        cache.push_back("uid-" + std::to_string(i));
    const std::vector<std::string> accept = {std::string(200000, 'x'), "after",
                                             std::string(70000, 'y')};
    const auto path = Path("box.dat");
    WriteSection(path, "Accept List", accept);
    WriteSection(path, "Cache", cache);
    WriteSection(path, "Reject List", {"last"});
    WriteSection(path, "Accept List", accept);
    EXPECT_EQ(ReadSectionLines(path, "Cache"), cache);
    EXPECT_EQ(ReadSectionLines(path, "Accept List"), accept);
    EXPECT_EQ(ReadSectionLines(path, "Reject List"), std::vector<std::string>{"last"});
    // Three headers, three end marks with their empty lines, two separating empty lines, "last".
    EXPECT_EQ(ReadTextLines(path).size(), accept.size() + cache.size() + 12);
}

TEST_F(DataFileTest, WriteSectionExactBytes) {
    const auto path = Path("box.dat");
    WriteSection(path, "Cache", {"a", "b"});
    EXPECT_EQ(Bytes(path), "[Cache]\r\na\r\nb\r\n\r\n####\r\n");
    EXPECT_EQ(ReadSection(path, "Cache"), "a\r\nb\r\n");

    // A new section goes at the end after an empty line; the first stays as it was.
    WriteSection(path, "Accept List", {});
    EXPECT_EQ(Bytes(path), "[Cache]\r\na\r\nb\r\n\r\n####\r\n\r\n[Accept List]\r\n\r\n####\r\n");
    EXPECT_EQ(ReadSection(path, "Accept List"), "");
    EXPECT_TRUE(ReadSectionLines(path, "Accept List").empty());
}

TEST_F(DataFileTest, ReplacingTheMiddleSectionKeepsTheOthers) {
    const auto path = Path("box.dat");
    const std::string first = "[Cache]\r\nid1\r\nid2\r\n\r\n####\r\n";
    const std::string last = "[Reject List]\r\nspam\r\n\r\n####\r\n";
    Put(path, first + "[Accept List]\r\nold1\r\nold2\r\nold3\r\n\r\n####\r\n" + last);

    WriteSection(path, "Accept List", {"new"});
    EXPECT_EQ(Bytes(path), first + "[Accept List]\r\nnew\r\n\r\n####\r\n" + last);
}

TEST_F(DataFileTest, SectionNamesIgnoreCase) {
    const auto path = Path("box.dat");
    Put(path, "[Accept List] trailing text\r\nfriend\r\n\r\n####\r\n");
    EXPECT_EQ(ReadSection(path, "accept list"), "friend\r\n");
    EXPECT_EQ(ReadSection(path, "ACCEPT LIST"), "friend\r\n");

    // Replacing through another spelling keeps the stored header as it was.
    WriteSection(path, "accept list", {"other"});
    EXPECT_EQ(Bytes(path), "[Accept List] trailing text\r\nother\r\n\r\n####\r\n");
}

TEST_F(DataFileTest, ReadSectionOfAwkwardFiles) {
    struct Case {
        const char* name;
        const char* content;
        const char* expected;
    };
    const Case cases[] = {
        {"no such section", "[Other]\r\nx\r\n\r\n####\r\n", ""},
        {"empty file", "", ""},
        {"header is the last line", "[Cache]\r\n", ""},
        {"header without line end", "[Cache]", ""},
        {"truncated in the content", "[Cache]\r\nid1\r\nid2", "id1\r\nid2"},
        {"truncated after the empty line", "[Cache]\r\nid1\r\n\r\n", "id1\r\n"},
        {"LF line ends", "[Cache]\nid1\nid2\n\n####\n", "id1\r\nid2\r\n"},
        {"end mark compared exactly", "[Cache]\r\n #### \r\nx\r\n\r\n####\r\n", " #### \r\nx\r\n"},
        {"lines outside sections", "junk\r\n[Cache]\r\nid\r\n\r\n####\r\nmore junk\r\n", "id\r\n"},
        {"first of two headers", "[Cache]\r\na\r\n\r\n####\r\n[Cache]\r\nb\r\n\r\n####\r\n",
         "a\r\n"},
        {"name must be closed by ]", "[Cache2]\r\nx\r\n\r\n####\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Put(Path("box.dat"), c.content);
        EXPECT_EQ(ReadSection(Path("box.dat"), "Cache"), c.expected);
    }
    EXPECT_EQ(ReadSection(Path("missing.dat"), "Cache"), "");
}

TEST_F(DataFileTest, WriteSectionRepairsTruncatedFiles) {
    struct Case {
        const char* name;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        // The header is the last line: the section goes right after it, not after a second
        // header, so the next read gives exactly the lines written.
        {"header is the last line", "[Accept List]\r\nx\r\n\r\n####\r\n[Cache]\r\n",
         "[Accept List]\r\nx\r\n\r\n####\r\n[Cache]\r\nnew\r\n\r\n####\r\n"},
        {"header without line end", "[Cache]", "[Cache]\r\nnew\r\n\r\n####\r\n"},
        {"content without end mark", "[Cache]\r\nold1\r\nold2", "[Cache]\r\nnew\r\n\r\n####\r\n"},
        {"last line without line end", "[Other]\r\n\r\n####",
         "[Other]\r\n\r\n####\r\n\r\n[Cache]\r\nnew\r\n\r\n####\r\n"},
        {"empty file", "", "\r\n[Cache]\r\nnew\r\n\r\n####\r\n"},
        {"LF file, replaced section", "[Cache]\nold\n\n####\n[Other]\nx\n\n####\n",
         "[Cache]\r\nnew\r\n\r\n####\r\n[Other]\r\nx\r\n\r\n####\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Path("box.dat");
        Put(path, c.before);
        WriteSection(path, "Cache", {"new"});
        EXPECT_EQ(Bytes(path), c.after);
        EXPECT_EQ(ReadSectionLines(path, "Cache"), std::vector<std::string>{"new"});
    }
}

TEST_F(DataFileTest, RewriteLeavesNoTemporaryAndNeverWritesThroughALink) {
    const auto path = Path("box.dat");
    const auto outside = Path("outside.txt");
    Put(outside, "keep me");
    // A stale temporary left by a crash, here even a link planted under its name.
    ASSERT_EQ(::symlink(outside.c_str(), Path("zelm$$$$.$$$").c_str()), 0);
    WriteSection(path, "Cache", {"a"});
    WriteSection(path, "Cache", {"b"});
    EXPECT_EQ(Bytes(outside), "keep me");
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("zelm$$$$.$$$"))));
    EXPECT_EQ(ReadSectionLines(path, "Cache"), std::vector<std::string>{"b"});
}

TEST_F(DataFileTest, FailedRewriteKeepsTheDataFile) {
    const auto path = Path("box.dat");
    const std::string stored = "[Cache]\r\nid1\r\n\r\n####\r\n";
    Put(path, stored);
    // The temporary cannot be made: the write fails as a whole and the stored file is intact.
    fs::create_directory(Path("zelm$$$$.$$$"));
    fs::create_directory(Path("zelm$$$$.$$$/inside"));
    EXPECT_THROW(WriteSection(path, "Cache", {"new"}), ZelmError);
    EXPECT_EQ(Bytes(path), stored);
}

TEST_F(DataFileTest, UnreadableDataFileIsAnError) {
    fs::create_directory(Path("box.dat"));
    EXPECT_THROW(ReadSection(Path("box.dat"), "Cache"), ZelmError);
    EXPECT_THROW(WriteSection(Path("box.dat"), "Cache", {"x"}), ZelmError);
}

TEST_F(DataFileTest, UnchangedSectionLeavesTheFileAlone) {
    const auto path = Path("box.dat");
    WriteSection(path, "Cache", {"a", "b"});
    WriteSection(path, "Accept List", {"x@y"});
    const std::string stored = Bytes(path);
    const auto inode = [&] {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0);
        return info.st_ino;
    };
    const auto before = inode();
    WriteSection(path, "Cache", {"a", "b"});
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(Bytes(path), stored);

    // The same lines in a file laid out otherwise (LF only) still get the file rewritten.
    Put(path, "[Cache]\na\nb\n\n####\n");
    WriteSection(path, "Cache", {"a", "b"});
    EXPECT_EQ(Bytes(path), "[Cache]\r\na\r\nb\r\n\r\n####\r\n");
    // A changed section is written as ever.
    WriteSection(path, "Cache", {"a"});
    EXPECT_EQ(Bytes(path), "[Cache]\r\na\r\n\r\n####\r\n");
}

TEST_F(DataFileTest, RewriteKeepsTheFileMode) {
    const auto path = Path("box.dat");
    WriteSection(path, "Cache", {"a"});
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WriteSection(path, "Cache", {"b"});
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(DataFileTest, NamesThatWouldLeaveTheHomeFolderAreRefused) {
    for (const char* name : {"", ".", "..", "../evil", "a/b", "/etc/passwd"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(DataFilePath(m_home, name), ZelmError);
        EXPECT_THROW(OutboxFolder(m_home, name), ZelmError);
    }
    EXPECT_EQ(DataFilePath(m_home, "home"), m_home + "home.dat");
    EXPECT_EQ(OutboxFolder(m_home, "home"), m_home + "home");
}

// --- Templates --------------------------------------------------------------------------

TEST_F(DataFileTest, NewTemplateTakesTheLowestFreeNumber) {
    struct Case {
        std::vector<std::string> existing;
        TemplateKind kind;
        const char* expected;
    };
    const Case cases[] = {
        {{}, TemplateKind::Message, "m00001.dat"},
        {{"m00001.dat", "m00003.dat"}, TemplateKind::Message, "m00002.dat"},
        {{"m00001.dat", "m00002.dat", "m00003.dat"}, TemplateKind::Message, "m00004.dat"},
        {{"m00001.dat", "d00002.dat"}, TemplateKind::SaveData, "d00001.dat"},
        {{"d00001.dat", "m00002.dat"}, TemplateKind::SaveData, "d00002.dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        for (const auto& entry : fs::directory_iterator(m_home))
            fs::remove_all(entry.path());
        for (const auto& name : c.existing)
            Put(Path(name), "x");
        EXPECT_EQ(NewTemplateName(m_home, c.kind), c.expected);
    }
}

TEST_F(DataFileTest, ActionLineNamesItsTemplate) {
    EXPECT_EQ(TemplatePathFromActionLine(m_home, "Send msg: m00001"), m_home + "m00001.dat");
    EXPECT_EQ(TemplatePathFromActionLine(m_home, "Save data: d00012"), m_home + "d00012.dat");
    EXPECT_THROW(TemplatePathFromActionLine(m_home, "Save data: ../etc"), ZelmError);
    EXPECT_THROW(TemplatePathFromActionLine(m_home, "m1"), ZelmError);
}

TEST_F(DataFileTest, MessageTemplateLayout) {
    MessageTemplate message;
    message.from = "{To}";
    message.subject = "Re: {Subject}";
    message.to = "{From},boss@example.com";
    message.body = {"Attachment: /tmp/report.pdf", "Hello", ""};
    const auto lines = MessageTemplateLines(message);
    const std::vector<std::string> expected = {"From: {To}",
                                               "Subject: Re: {Subject}",
                                               "To: {From},boss@example.com",
                                               "Cc: ",
                                               "",
                                               "Attachment: /tmp/report.pdf",
                                               "Hello",
                                               ""};
    EXPECT_EQ(lines, expected);

    const auto path = Path("m00001.dat");
    WriteTextLines(path, lines);
    EXPECT_EQ(Bytes(path), "From: {To}\r\nSubject: Re: {Subject}\r\nTo: {From},boss@example.com\r\n"
                           "Cc: \r\n\r\nAttachment: /tmp/report.pdf\r\nHello\r\n\r\n");
    const auto back = ParseMessageTemplate(ReadTextLines(path));
    EXPECT_EQ(back.from, message.from);
    EXPECT_EQ(back.subject, message.subject);
    EXPECT_EQ(back.to, message.to);
    EXPECT_EQ(back.cc, "");
    EXPECT_EQ(back.body, message.body);

    // A short or damaged file reads as empty fields, never past its end.
    const auto shortOne = ParseMessageTemplate({"From"});
    EXPECT_EQ(shortOne.from, "");
    EXPECT_EQ(shortOne.subject, "");
    EXPECT_TRUE(shortOne.body.empty());
}

TEST_F(DataFileTest, MissingTemplateIsAnError) {
    EXPECT_THROW(ReadTextLines(Path("m00009.dat")), ZelmError);
    EXPECT_THROW(ReadSaveDataTemplate(Path("d00009.dat")), ZelmError);
}

TEST_F(DataFileTest, SaveDataTemplateAndOutput) {
    const auto path = Path("d00001.dat");
    WriteTextLines(path, SaveDataTemplateLines({"out.txt", {"{Subject}", "{From}"}}));
    EXPECT_EQ(Bytes(path), "out.txt\r\n{Subject}\r\n{From}\r\n");
    const auto saveData = ReadSaveDataTemplate(path);
    EXPECT_EQ(saveData.outputPath, "out.txt");
    EXPECT_EQ(saveData.lines, (std::vector<std::string>{"{Subject}", "{From}"}));

    const auto output = ResolveInProgramDir(m_home, saveData.outputPath);
    EXPECT_EQ(output, m_home + "out.txt");
    EXPECT_EQ(ResolveInProgramDir(m_home, "/var/tmp/x"), "/var/tmp/x");
    AppendTextLines(output, {"Hello", "a\r\nvalue with a break"});
    AppendTextLines(output, {"again"});
    EXPECT_EQ(Bytes(output), "Hello\r\na\r\nvalue with a break\r\nagain\r\n");

    for (const char* content : {"", "\r\n{Subject}\r\n", "  \r\nx\r\n"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(content)));
        Put(path, content);
        EXPECT_THROW(ReadSaveDataTemplate(path), ZelmError);
    }
}

TEST_F(DataFileTest, RejectReplyGetsOneToLine) {
    const std::vector<std::string> rejectText = {"From: me@example.com", "Subject: Re: {Subject}",
                                                 "", "Go away."};
    const auto path = WriteRejectReplyTemplate(m_home, rejectText, "spammer@example.net");
    EXPECT_EQ(path, m_home + "zelmb$$$.$$$");
    EXPECT_EQ(Bytes(path), "From: me@example.com\r\nSubject: Re: {Subject}\r\n"
                           "To: spammer@example.net\r\n\r\nGo away.\r\n");
    // Made again from the same stored text for the next message: still one To line.
    WriteRejectReplyTemplate(m_home, rejectText, "other@example.org\r\nBcc: x@y");
    EXPECT_EQ(ReadTextLines(path),
              (std::vector<std::string>{"From: me@example.com", "Subject: Re: {Subject}",
                                        "To: other@example.org  Bcc: x@y", "", "Go away."}));
}

// --- Outbox -----------------------------------------------------------------------------

TEST_F(DataFileTest, OutboxFileLayout) {
    const auto folder = OutboxFolder(m_home, "Office");
    EnsureOutboxFolder(folder);
    const auto path =
        WriteOutboxMessage(folder, OutboxMessage{1, {"a@x.com", "b@y.com"}, {"l1", "l2", "l3"}});
    EXPECT_EQ(Bytes(path), "1\r\na@x.com\r\nb@y.com\r\n\r\nl1\r\nl2\r\nl3\r\n\r\n");

    const auto name = fs::path(path).filename().string();
    ASSERT_EQ(name.size(), 12u);
    EXPECT_EQ(name.substr(8), ".dat");
    for (char c : name.substr(0, 8))
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Y')) << name;
    EXPECT_EQ(ListOutboxFiles(folder), std::vector<std::string>{path});
}

TEST_F(DataFileTest, ReceivedMessageIsStoredAsItsLines) {
    // A forwarded message is stored from its header lines and body text where they lie.
    const auto folder = OutboxFolder(m_home, "Office");
    EnsureOutboxFolder(folder);
    const std::vector<std::string> header = {"Subject: s", ""};
    const auto body = MessageText::FromLines({".dot", "", "end"});
    const std::vector<std::string> to = {"a@x.com"};
    const auto path = WriteOutboxMessage(folder, OutboxEntry(3, to, MessageLines(header, body)));
    EXPECT_EQ(Bytes(path), "3\r\na@x.com\r\n\r\nSubject: s\r\n\r\n.dot\r\n\r\nend\r\n\r\n");
    EXPECT_EQ(ReadOutboxMessage(path).lines,
              (std::vector<std::string>{"Subject: s", "", ".dot", "", "end"}));
}

TEST_F(DataFileTest, OutboxMessageSurvivesRepeatedRetries) {
    const std::vector<std::vector<std::string>> messages = {
        {},
        {""},
        {"only"},
        {"a", ""},
        {"a", "", ""},
        {".leading dot", "..two", "."},
        {"lone\rCR", "lone\nLF", "  blank ends  "},
    };
    const auto folder = OutboxFolder(m_home, "box");
    EnsureOutboxFolder(folder);
    for (const auto& lines : messages) {
        SCOPED_TRACE(::testing::PrintToString(lines));
        OutboxMessage message{1, {"a@x.com"}, lines};
        // Each retry reads the file back and stores it again with one more attempt.
        for (int retry = 0; retry < 3; ++retry) {
            const auto path = WriteOutboxMessage(folder, message);
            const auto back = ReadOutboxMessage(path);
            fs::remove(path);
            EXPECT_EQ(back.attempts, message.attempts);
            EXPECT_EQ(back.recipients, message.recipients);
            EXPECT_EQ(back.lines, lines);
            message = back;
            ++message.attempts;
        }
    }
}

TEST_F(DataFileTest, UnusableRecipientsAreNeverStored) {
    const auto folder = OutboxFolder(m_home, "box");
    EnsureOutboxFolder(folder);
    const auto path = WriteOutboxMessage(
        folder, OutboxMessage{2, {"", "a@x.com", "  ", "b@y\r\nRCPT TO:<c@z>", "d@w"}, {"m"}});
    const auto back = ReadOutboxMessage(path);
    EXPECT_EQ(back.recipients, (std::vector<std::string>{"a@x.com", "d@w"}));
    EXPECT_EQ(back.lines, std::vector<std::string>{"m"});
}

TEST_F(DataFileTest, ReadOutboxFileCases) {
    struct Case {
        const char* name;
        const char* content;
        int attempts;
        std::vector<std::string> recipients;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"as written",
         "2\r\na@x\r\nb@y\r\n\r\n1\r\n2\r\n3\r\n4\r\n5\r\n\r\n",
         2,
         {"a@x", "b@y"},
         {"1", "2", "3", "4", "5"}},
        {"separator of blanks", "1\r\na@x\r\n \t \r\nbody\r\n\r\n", 1, {"a@x"}, {"body"}},
        {"no recipients", "1\r\n\r\nbody\r\n\r\n", 1, {}, {"body"}},
        {"no final empty line", "1\r\na@x\r\n\r\nbody\r\n", 1, {"a@x"}, {"body"}},
        {"nothing after the separator", "3\r\na@x\r\n\r\n", 3, {"a@x"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Put(Path("X.dat"), c.content);
        const auto message = ReadOutboxMessage(Path("X.dat"));
        EXPECT_EQ(message.attempts, c.attempts);
        EXPECT_EQ(message.recipients, c.recipients);
        EXPECT_EQ(message.lines, c.lines);
    }
}

TEST_F(DataFileTest, BadOutboxFilesAreErrorsAndStay) {
    const char* contents[] = {
        "",                           // empty
        "two\r\na@x\r\n\r\nbody\r\n", // not a number
        " \r\na@x\r\n\r\nbody\r\n",   // blank count
        "1\r\na@x\r\nb@y\r\n",        // no separator line
        "1",                          // count only
    };
    for (const char* content : contents) {
        SCOPED_TRACE(::testing::PrintToString(std::string(content)));
        Put(Path("X.dat"), content);
        EXPECT_THROW(ReadOutboxMessage(Path("X.dat")), ZelmError);
        EXPECT_EQ(Bytes(Path("X.dat")), content);
    }
    EXPECT_THROW(ReadOutboxMessage(Path("missing.dat")), ZelmError);
}

TEST_F(DataFileTest, OutboxFolderListing) {
    const auto folder = OutboxFolder(m_home, "box");
    EXPECT_TRUE(ListOutboxFiles(folder).empty());
    EnsureOutboxFolder(folder);
    EnsureOutboxFolder(folder);
    EXPECT_TRUE(fs::is_directory(folder));
    Put(folder + "/B.dat", "x");
    Put(folder + "/A.DAT", "x");
    Put(folder + "/zelm$$$$.$$$", "half written");
    Put(folder + "/notes.txt", "x");
    fs::create_directory(folder + "/dir.dat");
    EXPECT_EQ(ListOutboxFiles(folder),
              (std::vector<std::string>{folder + "/A.DAT", folder + "/B.dat"}));

    Put(Path("plainfile"), "x");
    EXPECT_THROW(EnsureOutboxFolder(Path("plainfile")), ZelmError);
}

TEST_F(DataFileTest, ReplacedOutboxMessageTakesANewNameAndLeavesOneFile) {
    const auto folder = OutboxFolder(m_home, "box");
    EnsureOutboxFolder(folder);
    const auto neighbour = WriteOutboxMessage(folder, OutboxMessage{1, {"n@x"}, {"neighbour"}});
    const auto old = WriteOutboxMessage(folder, OutboxMessage{1, {"a@x"}, {"m"}});

    const auto moved = ReplaceOutboxMessage(old, OutboxMessage{2, {"a@x"}, {"m"}});

    EXPECT_NE(moved, old);
    std::vector<std::string> expected = {neighbour, moved};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListOutboxFiles(folder), expected);
    EXPECT_EQ(Bytes(moved), "2\r\na@x\r\n\r\nm\r\n\r\n");
    EXPECT_EQ(ReadOutboxMessage(neighbour).lines, std::vector<std::string>{"neighbour"});
}

TEST_F(DataFileTest, OutboxNamesDoNotCollide) {
    const auto folder = OutboxFolder(m_home, "box");
    EnsureOutboxFolder(folder);
    std::set<std::string> paths;
    for (int i = 0; i < 50; ++i)
        paths.insert(WriteOutboxMessage(folder, OutboxMessage{i, {"a@x"}, {std::to_string(i)}}));
    EXPECT_EQ(paths.size(), 50u);
    EXPECT_EQ(ListOutboxFiles(folder).size(), 50u);
    for (const auto& path : paths) {
        const auto message = ReadOutboxMessage(path);
        EXPECT_EQ(message.lines, std::vector<std::string>{std::to_string(message.attempts)});
    }
}

} // namespace
} // namespace zelm
