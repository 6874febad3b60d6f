#include "protocols/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <thread>

#include "tests/support/fake_server.h"
#include "tests/support/short_limits.h"
#include "tests/support/test_home.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::ScriptStep;
using test::ShortenLimits;
namespace script = test::script;

const char* const kPop3Failure = "Pop3: Unable to read data from Socket";

class TransportTest : public ::testing::Test {
protected:
    void ConnectTo(const FakeServer& server) {
        pop3.SetEndpoint("127.0.0.1");
        pop3.SetPort(server.Port());
        pop3.Connect();
    }

    // Error-log lines without their timestamps.
    std::vector<std::string> ErrorTexts() const {
        std::vector<std::string> texts;
        for (const auto& line : env.ui.errorLines)
            texts.push_back(line.substr(21, line.size() - 23));
        return texts;
    }

    test::TestContext env;
    Connection pop3{env.context, kPop3Failure, 110};
};

enum class Reader { Pop3Line, Pop3Multi, Smtp };

struct ReadCase {
    const char* name;
    std::vector<ScriptStep> script;
    Reader reader;
    std::string expected;
    bool staysOpen;
    // The error-log line written, "" for none.
    std::string failureLine;
};

std::string Reply(Connection& connection, Reader reader) {
    switch (reader) {
    case Reader::Pop3Line:
        return ReadPop3Response(connection, false);
    case Reader::Pop3Multi:
        return ReadPop3Response(connection, true);
    case Reader::Smtp:
        return ReadSmtpReply(connection);
    }
    return {};
}

std::vector<ReadCase> ReadCases() {
    const std::string large(5000, 'a');
    return {
        {"StatusLineWhole",
         {script::Send("+OK ready\r\n")},
         Reader::Pop3Line,
         "+OK ready\r\n",
         true,
         ""},
        {"StatusLineInTwoSegments",
         {script::SendSegments({"+OK rea", "dy\r\n"})},
         Reader::Pop3Line,
         "+OK ready\r\n",
         true,
         ""},
        {"StatusLineCutAfterCr",
         {script::SendSegments({"+OK ready\r", "\n"})},
         Reader::Pop3Line,
         "+OK ready\r\n",
         true,
         ""},
        {"MultiLineTerminatorInLaterSegment",
         {script::SendSegments({"+OK\r\nSubject: a\r\n", ".\r\n"})},
         Reader::Pop3Multi,
         "+OK\r\nSubject: a\r\n.\r\n",
         true,
         ""},
        {"MultiLineTerminatorSplitInsideItself",
         {script::SendSegments({"+OK\r\nline\r\n.", "\r\n"})},
         Reader::Pop3Multi,
         "+OK\r\nline\r\n.\r\n",
         true,
         ""},
        {"MultiLineDotLineInsideDoesNotEnd",
         {script::SendSegments({"+OK\r\nx.\r\n", "y\r\n.\r\n"})},
         Reader::Pop3Multi,
         "+OK\r\nx.\r\ny\r\n.\r\n",
         true,
         ""},
        {"MultiLineEmptyBody",
         {script::Send("+OK\r\n.\r\n")},
         Reader::Pop3Multi,
         "+OK\r\n.\r\n",
         true,
         ""},
        // An error reply is one line: the read must not wait for a terminator that never comes.
        {"MultiLineErrorIsOneLine",
         {script::Send("-ERR no such message\r\n"), script::Silent(2000)},
         Reader::Pop3Multi,
         "-ERR no such message\r\n",
         true,
         ""},
        {"MultiLineLowerCaseOkIsError",
         {script::Send("+ok\r\n"), script::Silent(2000)},
         Reader::Pop3Multi,
         "+ok\r\n",
         true,
         ""},
        {"NulBytesDroppedOneByOne",
         {script::Send(std::string("+O\0K \0ok\r\n", 10))},
         Reader::Pop3Line,
         "+OK ok\r\n",
         true,
         ""},
        {"NulBeforeTerminatorKeepsTheTerminator",
         {script::Send(std::string("+OK\r\nA\0B\r\n.\0\r\n", 14))},
         Reader::Pop3Multi,
         "+OK\r\nAB\r\n.\r\n",
         true,
         ""},
        {"SilenceGivesEmptyReplyAndCloses",
         {script::Silent(2000)},
         Reader::Pop3Line,
         "",
         false,
         kPop3Failure},
        {"ProbeThatGetsBytesKeepsConnection",
         {script::Wait(500), script::Send("xy")},
         Reader::Pop3Line,
         "",
         true,
         ""},
        {"PeerClosesBeforeReply", {script::Close()}, Reader::Pop3Line, "", false, kPop3Failure},
        {"PeerClosesMidReply",
         {script::Send("+OK\r\npartial line"), script::Close()},
         Reader::Pop3Multi,
         "",
         false,
         kPop3Failure},
        {"SilenceMidReply",
         {script::Send("+OK 3 messages\r\nTo: a"), script::Silent(2000)},
         Reader::Pop3Multi,
         "",
         false,
         kPop3Failure},
        {"ReplyBeyondTheCap",
         {script::Send("+OK\r\n" + large), script::Silent(2000)},
         Reader::Pop3Multi,
         "",
         false,
         std::string(kPop3Failure) + " (reply larger than 1000 bytes)"},
        {"SmtpSingleLine", {script::Send("250 ok\r\n")}, Reader::Smtp, "250 ok\r\n", true, ""},
        {"SmtpBareCode", {script::Send("250\r\n")}, Reader::Smtp, "250\r\n", true, ""},
        {"SmtpContinuationLines",
         {script::SendSegments({"250-mail.example\r\n", "250-SIZE 100\r\n250 HELP\r\n"})},
         Reader::Smtp,
         "250-mail.example\r\n250-SIZE 100\r\n250 HELP\r\n",
         true,
         ""},
        {"SmtpGreetingSplitInsideCode",
         {script::SendSegments({"220-first\r\n22", "0 second\r\n"})},
         Reader::Smtp,
         "220-first\r\n220 second\r\n",
         true,
         ""},
    };
}

// A row's label in CTest and in failures is its name, not a dump of its bytes.
void PrintTo(const ReadCase& row, std::ostream* out) {
    *out << row.name;
}

class ReadReplyTest : public TransportTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadReplyTest, Dialogue) {
    const ReadCase& c = GetParam();
    FakeServer server(c.script);
    ShortenLimits(pop3, 300, 1000);
    pop3.Limits().maxReplyBytes = 1000;
    ConnectTo(server);

    EXPECT_EQ(Reply(pop3, c.reader), c.expected);
    EXPECT_EQ(pop3.Active(), c.staysOpen);
    if (c.failureLine.empty()) {
        EXPECT_TRUE(ErrorTexts().empty());
    } else {
        EXPECT_EQ(ErrorTexts(), std::vector<std::string>{c.failureLine});
    }
    pop3.Close();
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

INSTANTIATE_TEST_SUITE_P(Transport, ReadReplyTest, ::testing::ValuesIn(ReadCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(TransportTest, SilentWaitKeepsTheWindowPumped) {
    FakeServer server({script::Silent(2000)});
    ShortenLimits(pop3);
    ConnectTo(server);
    EXPECT_EQ(ReadPop3Response(pop3, false), "");
    EXPECT_GT(env.ui.pumpCount, 5);
    server.Finish();
}

TEST_F(TransportTest, ConnectionClosedByTheWindowDuringAWaitEndsTheRead) {
    FakeServer server({script::Silent(2000)});
    ShortenLimits(pop3, 5000, 5000);
    ConnectTo(server);
    env.ui.onPump = [this] { pop3.Close(); };
    EXPECT_THROW(ReadPop3Response(pop3, false), SocketError);
    EXPECT_FALSE(pop3.Active());
    server.Finish();
}

TEST_F(TransportTest, AReplyThatKeepsArrivingStillKeepsTheWindowPumped) {
    // Data is always there, so the reader never waits: only the reader itself can pump.
    FakeServer server({});
    ConnectTo(server);
    pop3.Limits().sliceMs = 20;
    const std::string line(998, 'x');
    int chunks = 0;
    pop3.Calls().poll = [](pollfd*, nfds_t, int) { return 1; };
    pop3.Calls().recv = [&](int, void* buffer, std::size_t size, int) -> ssize_t {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int n = chunks++;
        const std::string piece = n == 0 ? "+OK\r\n" : n > 200 ? ".\r\n" : line + "\r\n";
        std::memcpy(buffer, piece.data(), std::min(size, piece.size()));
        return static_cast<ssize_t>(std::min(size, piece.size()));
    };
    const std::string reply = ReadPop3Response(pop3, true);
    EXPECT_TRUE(reply.ends_with("\r\n.\r\n"));
    EXPECT_GE(env.ui.pumpCount, 5);

    // A pump that closes the connection ends the read there.
    chunks = 0;
    env.ui.onPump = [this] { pop3.Close(); };
    EXPECT_THROW(ReadPop3Response(pop3, true), SocketError);
    server.Finish();
}

TEST_F(TransportTest, AReplyAfterACommandIsWaitedForInTheRead) {
    // Right after a command the reader waits inside the read: the same replies, failures and
    // pumping as waiting first and reading then.
    struct Case {
        const char* name;
        std::vector<ScriptStep> afterCommand;
        std::string expected;
        bool staysOpen;
    };
    const Case cases[] = {
        {"late reply", {script::Wait(150), script::Send("+OK late\r\n")}, "+OK late\r\n", true},
        {"reply in pieces",
         {script::SendSegments({"+OK in ", "pieces\r\n"}, 80)},
         "+OK in pieces\r\n",
         true},
        {"silent server", {script::Silent(1200)}, "", false},
        {"closed instead", {script::Close()}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TestContext context;
        Connection connection{context.context, kPop3Failure, 110};
        std::vector<ScriptStep> steps = {script::Expect("NOOP\r\n")};
        steps.insert(steps.end(), c.afterCommand.begin(), c.afterCommand.end());
        FakeServer server(steps);
        ShortenLimits(connection);
        connection.SetEndpoint("127.0.0.1");
        connection.SetPort(server.Port());
        connection.Connect();
        connection.SendText("NOOP\r\n");
        EXPECT_EQ(ReadPop3Response(connection, false), c.expected);
        EXPECT_EQ(connection.Active(), c.staysOpen);
        if (c.expected == "+OK late\r\n") {
            EXPECT_GE(context.ui.pumpCount, 3);
        }
        if (!c.staysOpen) {
            ASSERT_EQ(context.ui.errorLines.size(), 1u);
            EXPECT_NE(context.ui.errorLines[0].find(kPop3Failure), std::string::npos);
        }
        connection.Close();
        server.Finish();
    }

    // The window closing the connection while the read waits ends the read there.
    FakeServer server({script::Expect("NOOP\r\n"), script::Silent(2000)});
    ShortenLimits(pop3, 5000, 5000);
    ConnectTo(server);
    pop3.SendText("NOOP\r\n");
    env.ui.onPump = [this] { pop3.Close(); };
    EXPECT_THROW(ReadPop3Response(pop3, false), SocketError);
    EXPECT_FALSE(pop3.Active());
    server.Finish();
}

TEST_F(TransportTest, CommandsLeaveExactlyAsGiven) {
    FakeServer server({script::Expect("USER me\r\n"), script::Expect("PASS a b\r\n")});
    ConnectTo(server);
    pop3.SendText("USER me\r\n");
    pop3.SendText("PASS a b\r\n");
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Received(), "USER me\r\nPASS a b\r\n");
}

TEST_F(TransportTest, ReadOnAClosedConnectionFailsAtOnce) {
    EXPECT_THROW(ReadPop3Response(pop3, false), SocketError);
    EXPECT_THROW(pop3.SendText("NOOP\r\n"), SocketError);
}

TEST_F(TransportTest, SendToAClosedPeerIsASocketErrorNotASignal) {
    FakeServer server({script::Close()});
    ConnectTo(server);
    ASSERT_TRUE(server.Finish());
    // The first sends may still be accepted locally; once the peer's reset is back a send
    // fails. Without MSG_NOSIGNAL the process would die of SIGPIPE here.
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        try {
            pop3.SendText("NOOP\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } catch (const SocketError&) {
            failed = true;
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(pop3.Active());
}

TEST_F(TransportTest, SendWithoutProgressFailsAfterTheLimit) {
    // The server never reads, so the socket buffers fill and the send stalls.
    FakeServer server({script::Wait(5000)});
    ShortenLimits(pop3);
    ConnectTo(server);
    const std::string huge(64 << 20, 'x');
    EXPECT_THROW(pop3.SendText(huge), SocketError);
    EXPECT_FALSE(pop3.Active());
}

TEST_F(TransportTest, ResetByPeerMidReplyIsASocketError) {
    FakeServer server({script::Send("250-first\r\n"), script::Wait(100), script::Reset()});
    ShortenLimits(pop3, 2000, 2000);
    ConnectTo(server);
    EXPECT_THROW(ReadSmtpReply(pop3), SocketError);
    EXPECT_FALSE(pop3.Active());
}

TEST_F(TransportTest, InterruptedCallsAreRetried) {
    FakeServer server({script::SendSegments({"+OK he", "llo\r\n"})});
    ConnectTo(server);
    int recvCalls = 0;
    int pollCalls = 0;
    pop3.Calls().recv = [&](int fd, void* buffer, std::size_t size, int flags) -> ssize_t {
        if (++recvCalls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        return ::recv(fd, buffer, size, flags);
    };
    pop3.Calls().poll = [&](pollfd* fds, nfds_t count, int timeout) {
        if (++pollCalls == 1) {
            errno = EINTR;
            return -1;
        }
        return ::poll(fds, count, timeout);
    };
    EXPECT_EQ(ReadPop3Response(pop3, false), "+OK hello\r\n");
    EXPECT_TRUE(pop3.Active());
    EXPECT_TRUE(env.ui.errorLines.empty());
    server.Finish();
}

TEST_F(TransportTest, CloseTellsTheHandlerOnce) {
    FakeServer server({});
    int closes = 0;
    pop3.SetCloseHandler([&] { ++closes; });
    ConnectTo(server);
    pop3.Close();
    pop3.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(pop3.Active());
}

TEST_F(TransportTest, SocketIsCloseOnExec) {
    FakeServer server({});
    ConnectTo(server);
    ASSERT_TRUE(pop3.Active());
    EXPECT_TRUE(::fcntl(pop3.Descriptor(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(TransportTest, EndpointRule) {
    struct Case {
        const char* host;
        bool numeric;
    };
    const Case cases[] = {
        {"192.168.1.10", true}, {"0.0.0.0", true},       {"255.255.255.255", true},
        {"300.1.1.1", false},   {"1.2.3", false},        {"1.2.3.4.5", false},
        {"localhost", false},   {"mail.example", false}, {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        pop3.SetEndpoint(c.host);
        EXPECT_EQ(pop3.Address(), c.numeric ? c.host : "");
        EXPECT_EQ(pop3.HostName(), c.numeric ? "" : c.host);
    }
}

TEST_F(TransportTest, ConnectsByHostNameToo) {
    FakeServer server({script::Send("+OK\r\n")});
    pop3.SetEndpoint("localhost");
    pop3.SetPort(server.Port());
    // localhost may resolve to ::1 first, where nothing listens; the next address is tried.
    pop3.Connect();
    EXPECT_EQ(ReadPop3Response(pop3, false), "+OK\r\n");
    server.Finish();
}

TEST_F(TransportTest, ConnectFailuresAreSocketErrors) {
    pop3.SetEndpoint("127.0.0.1");
    pop3.SetPort(test::ClosedLoopbackPort());
    EXPECT_THROW(pop3.Connect(), SocketError);
    pop3.SetEndpoint("");
    EXPECT_THROW(pop3.Connect(), SocketError);
    pop3.SetEndpoint("127.0.0.1");
    pop3.SetPort(70000);
    EXPECT_THROW(pop3.Connect(), SocketError);
    EXPECT_FALSE(pop3.Active());
}

} // namespace
} // namespace zelm

namespace zelm {
namespace {

class PipelinedReadTest : public TransportTest {};

// Several replies in flight: each read takes exactly one, wherever the pieces break.
TEST_F(PipelinedReadTest, EachReadTakesOneReplyWhateverTheSegments) {
    const std::string one = "+OK\r\nSubject: a\r\n\r\n.\r\n";
    const std::string refused = "-ERR no such message\r\n";
    const std::string two = "+OK\r\n..dotted\r\nx\r\n.\r\n";
    const std::vector<std::vector<std::string>> cuts = {
        {one + refused + two},
        // Inside the terminator, right after a status line, and byte by byte at the joins.
        {one.substr(0, one.size() - 3), one.substr(one.size() - 3) + refused.substr(0, 4),
         refused.substr(4) + "+", two.substr(1)},
    };
    for (const auto& segments : cuts) {
        FakeServer server({script::SendSegments(segments, 20), script::Silent(300)});
        ConnectTo(server);
        EXPECT_EQ(ReadPipelinedPop3Response(pop3, true), one);
        EXPECT_EQ(ReadPipelinedPop3Response(pop3, true), refused);
        EXPECT_EQ(ReadPipelinedPop3Response(pop3, true), two);
        pop3.Close();
    }
}

TEST_F(PipelinedReadTest, LinesAreReadAsTheyComeAndACutReplyGivesNone) {
    {
        FakeServer server(
            {script::SendSegments(
                 {"+OK 12 octets\r\nSubj", "ect: a\r\n\r\nbo\rdy\r", "\n..x\r\n.", "\r\n"}, 20),
             script::Silent(300)});
        ConnectTo(server);
        MessageText lines;
        EXPECT_EQ(ReadPop3Lines(pop3, lines), "+OK 12 octets\r\n");
        // A lone CR ends a line as in a stored list; the dot-stuffing is left to the caller.
        EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"Subject: a", "", "bo", "dy", "..x"}));
        EXPECT_TRUE(pop3.Active());
        pop3.Close();
    }
    {
        FakeServer server({script::Send("+OK\r\nSubject: a\r\n"), script::Close()});
        ConnectTo(server);
        MessageText lines;
        EXPECT_EQ(ReadPop3Lines(pop3, lines), "");
        EXPECT_TRUE(lines.empty());
        EXPECT_FALSE(pop3.Active());
        EXPECT_EQ(ErrorTexts(), std::vector<std::string>{kPop3Failure});
    }
}

} // namespace
} // namespace zelm
