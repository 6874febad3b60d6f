#include "session/actions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/config_store.h"
#include "core/schema.h"
#include "tests/session/message_fixture.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::RetrReply;
using test::SmtpDialogues;
namespace script = test::script;

const std::vector<std::string> kBody = {"Order: 1234", "Contact:", "a@b.example",
                                        "RCPT TO:<victim@evil.example>", "end"};

std::vector<std::string> Received() {
    auto lines = test::SpamHeader();
    lines.insert(lines.end(), kBody.begin(), kBody.end());
    return lines;
}

std::vector<test::ScriptStep> RetrieveOnce() {
    return {script::Expect("RETR 1\r\n"), script::Send(RetrReply(Received()))};
}

TEST(ActionLines, EveryPieceBeforeTheLastLineBreak) {
    struct Case {
        const char* value;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"Delete message", {}},
        {"Delete message\r\n", {"Delete message"}},
        {"Fwd to: a@b\r\nStop (go to next message)", {"Fwd to: a@b"}},
        {"A\r\n\r\nB\r\n", {"A", "", "B"}},
        {"A\nB\r\n", {"A\nB"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ActionLines(c.value), c.lines);
    }
}

class ActionsTest : public test::MessageFixture {
protected:
    void SetFilter(const std::string& filter, const std::string& name, const std::string& value) {
        WriteRegString(t.db, FilterKeyPath("home", filter), name, value);
    }
    std::vector<std::string> Panel3() const { return t.ui.panelHistory[3]; }
};

TEST_F(ActionsTest, DeleteThenStopEndsTheFilterBeforeSendMsg) {
    t.home.Write("m00001.dat", "From: a@home.example\r\nSubject: x\r\nTo: b@example.com\r\n"
                               "Cc: \r\n\r\nbody\r\n");
    SetFilter("f", schema::Actions,
              "Delete message\r\nStop (go to next message)\r\nSend msg: m00001\r\n");
    FakeServer pop3Server({script::Expect("DELE 1\r\n"), script::Send("+OK\r\n")});
    ConnectPop3(pop3Server);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Stop);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_EQ(pop3Server.Received(), "DELE 1\r\n");
    EXPECT_EQ(SessionTexts(), std::vector<std::string>{" - deleted"});
    EXPECT_EQ(Panel3(), (std::vector<std::string>{"Deleting", ""}));
    EXPECT_TRUE(ErrorTexts().empty()) << "nothing may have been sent";
}

TEST_F(ActionsTest, LinesOfNoKnownKindAndMissingFiltersDoNothing) {
    SetFilter("f", schema::Actions,
              "Forward to: a@b.example\r\ndelete message\r\n\r\n stop\r\nStop (unfinished)");
    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);
    SetFilter("empty", schema::Actions, "");
    EXPECT_EQ(ExecuteFilterActions(session, "empty"), ActionOutcome::Continue);
    EXPECT_EQ(ExecuteFilterActions(session, "no such filter"), ActionOutcome::Continue);
    EXPECT_TRUE(SessionTexts().empty());
    EXPECT_TRUE(Panel3().empty());
}

TEST_F(ActionsTest, ForwardRetrievesOnceAndResolvesReferences) {
    SetFilter("f", schema::Actions,
              "Fwd to: {From}, someone@example.com\r\nFwd to:   {Reply-To}  \r\n");
    FakeServer pop3Server(RetrieveOnce());
    FakeServer smtpServer(test::AcceptMessages({2, 1}));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_TRUE(smtpServer.Finish()) << smtpServer.Failure();
    const auto dialogues = SmtpDialogues(smtpServer);
    ASSERT_EQ(dialogues.size(), 2U);
    EXPECT_EQ(dialogues[0].recipients,
              (std::vector<std::string>{"john@sender.example", "someone@example.com"}));
    EXPECT_EQ(dialogues[1].recipients, std::vector<std::string>{"offers@spam.example"});
    EXPECT_EQ(dialogues[0].data, JoinListValue(Received()));
    EXPECT_EQ(dialogues[1].data, JoinListValue(Received()));
    EXPECT_EQ(Panel3(), (std::vector<std::string>{"Forwarding 1", "", "Forwarding 1", ""}));
    // Each send read the message where it lies; later actions still find it there.
    EXPECT_EQ(pop3.headerLines, test::SpamHeader());
    EXPECT_EQ(pop3.messageBody.Lines(), kBody);
}

TEST_F(ActionsTest, UnretrievableMessageSkipsEveryActionThatNeedsItsText) {
    const std::string program = t.home.File("record.sh");
    t.home.Write("record.sh", "#!/bin/sh\ntouch ran\n");
    ::chmod(program.c_str(), 0755);
    t.home.Write("d00001.dat", "out.txt\r\n{Subject}\r\n");
    t.home.Write("zelm.dat", "an earlier message\r\n");
    SetFilter("f", schema::Actions,
              "Fwd to: a@b.example\r\nExt prog: " + program +
                  "\r\nSave data: d00001\r\nSend msg: m00001\r\nExtract text from body\r\n"
                  "Delete message\r\n");
    std::vector<test::ScriptStep> steps;
    for (int i = 0; i < 5; ++i) {
        steps.push_back(script::Expect("RETR 1\r\n"));
        steps.push_back(script::Send("-ERR Message is deleted\r\n"));
    }
    steps.push_back(script::Expect("DELE 1\r\n"));
    steps.push_back(script::Send("+OK\r\n"));
    FakeServer pop3Server(steps);
    ConnectPop3(pop3Server);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    const std::string skipped = " skipped: the message could not be retrieved";
    EXPECT_EQ(SessionTexts(),
              (std::vector<std::string>{" - forward" + skipped, " - ext prog " + program + skipped,
                                        " - save data" + skipped, " - send msg" + skipped,
                                        " - extract text" + skipped, " - deleted"}));
    EXPECT_FALSE(t.home.Exists("ran")) << "the program must not get another message's file";
    EXPECT_FALSE(t.home.Exists("out.txt"));
    for (const auto& line : ErrorTexts())
        EXPECT_EQ(line.find("SMTP"), std::string::npos) << line;
}

TEST_F(ActionsTest, SaveDataAppendsTheSubstitutedLines) {
    t.home.Write("d00001.dat", "out.txt\r\n{Subject} from {From}\r\n");
    t.home.Write("d00002.dat", t.home.File("abs.txt") + "\r\n{Subject}\r\n{Nothing}\r\n");
    SetFilter("f", schema::Actions,
              "Save data: d00001\r\nSave data: d00001\r\nSave data: d00002\r\n");
    FakeServer pop3Server(RetrieveOnce());
    ConnectPop3(pop3Server);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    const std::string line = "Cheap offers from John SMITH <john@sender.example>\r\n";
    EXPECT_EQ(t.home.Read("out.txt"), line + line);
    EXPECT_EQ(t.home.Read("abs.txt"), "Cheap offers\r\n{Nothing}\r\n");
    EXPECT_EQ(SessionTexts(), (std::vector<std::string>{
                                  " - msg data to file out.txt", " - msg data to file out.txt",
                                  " - msg data to file " + t.home.File("abs.txt")}));
    EXPECT_EQ(Panel3(),
              (std::vector<std::string>{"Saving data", "", "Saving data", "", "Saving data", ""}));
}

TEST_F(ActionsTest, BrokenSaveDataAndSendMsgFilesAreSkippedAndTheNextActionRuns) {
    t.home.Write("d00002.dat", "");
    t.home.Write("d00003.dat", "\r\n{Subject}\r\n");
    t.home.Write("d00004.dat", "no folder/out.txt\r\n{Subject}\r\n");
    t.home.Write("m00002.dat", "");
    t.home.Write("m00003.dat", "From: a@home.example\r\nTo: b@example.com\r\n\r\nAttachment: " +
                                   t.home.File("missing.pdf") + "\r\nbody\r\n");
    SetFilter("f", schema::Actions,
              "Save data: d00001\r\nSave data: d00002\r\nSave data: d00003\r\n"
              "Save data: d00004\r\nSend msg: m00001\r\nSend msg: m00002\r\n"
              "Send msg: m00003\r\nDelete message\r\n");
    auto steps = RetrieveOnce();
    steps.push_back(script::Expect("DELE 1\r\n"));
    steps.push_back(script::Send("+OK\r\n"));
    FakeServer pop3Server(steps);
    ConnectPop3(pop3Server);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    const auto texts = SessionTexts();
    ASSERT_EQ(texts.size(), 8U);
    const char* names[] = {"d00001.dat", "d00002.dat", "d00003.dat", "no folder/out.txt",
                           "m00001.dat", "m00002.dat", "missing.pdf"};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(names[i]);
        const auto prefix = i < 4 ? " - save data skipped: " : " - send msg skipped: ";
        EXPECT_EQ(texts[i].rfind(prefix, 0), 0U) << texts[i];
        EXPECT_NE(texts[i].find(names[i]), std::string::npos) << texts[i];
    }
    EXPECT_EQ(texts[7], " - deleted");
    for (const auto& line : ErrorTexts())
        EXPECT_EQ(line.find("SMTP"), std::string::npos) << line;
}

TEST_F(ActionsTest, ExtractedVariablesFeedSaveDataAndSendMsg) {
    SetFilter("f", schema::TextExtract,
              "Go to string in msg: Order:\r\nForward # of chars: 6\r\n"
              "Text extraction start (Order)\r\nGo to line end\r\n"
              "Text extraction end (Order)\r\n");
    SetFilter("f", schema::TextVarNames, "Order\r\n");
    SetFilter("f", schema::Actions,
              "Extract text from body\r\nSave data: d00001\r\nSend msg: m00001\r\n");
    t.home.Write("d00001.dat", "orders.txt\r\n{Order};{Subject}\r\n");
    t.home.Write("m00001.dat", "From: shop@home.example\r\nSubject: Re: {Subject}\r\n"
                               "To: {Reply-To}\r\nCc: \r\n\r\nOrder {Order} received.\r\n");
    FakeServer pop3Server(RetrieveOnce());
    FakeServer smtpServer(test::AcceptMessage(1));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_TRUE(smtpServer.Finish()) << smtpServer.Failure();
    EXPECT_EQ(t.home.Read("orders.txt"), "1234;Cheap offers\r\n");
    const auto dialogues = SmtpDialogues(smtpServer);
    ASSERT_EQ(dialogues.size(), 1U);
    EXPECT_EQ(dialogues[0].recipients, std::vector<std::string>{"offers@spam.example"});
    EXPECT_NE(dialogues[0].data.find("\r\nSubject: Re: Cheap offers\r\n"), std::string::npos);
    EXPECT_NE(dialogues[0].data.find("\r\nOrder 1234 received.\r\n"), std::string::npos);
    EXPECT_EQ(Panel3(),
              (std::vector<std::string>{"Extract text", "", "Saving data", "", "sending msg", ""}));
}

TEST_F(ActionsTest, SecondExtractionStartsFromHeaderAndBodyOnly) {
    SetFilter("first", schema::TextExtract,
              "Text extraction start (A)\r\nGo to line end\r\nText extraction end (A)\r\n"
              "Text extraction end (B)\r\n");
    SetFilter("first", schema::TextVarNames, "A\r\nB\r\n");
    SetFilter("first", schema::Actions, "Extract text from body\r\n");
    SetFilter("second", schema::TextExtract,
              "Go to string in msg: a@b\r\nText extraction start (C)\r\nGo to line end\r\n"
              "Text extraction end (C)\r\n");
    SetFilter("second", schema::TextVarNames, "C\r\n");
    SetFilter("second", schema::Actions, "Extract text from body\r\n");
    FakeServer pop3Server(RetrieveOnce());
    ConnectPop3(pop3Server);

    ExecuteFilterActions(session, "first");
    const auto& variables = session.Message().messageVariables;
    EXPECT_EQ(variables.Lookup("A"), "Order: 1234");
    ExecuteFilterActions(session, "second");

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    const auto fields = session.headerFields.size();
    ASSERT_EQ(variables.values.size(), fields + 3);
    ASSERT_EQ(variables.names.size(), fields + 3);
    EXPECT_EQ(variables.names.back(), "C");
    EXPECT_EQ(variables.Lookup("C"), "a@b.example");
    EXPECT_EQ(variables.Lookup("Body"), JoinListValue(kBody));
    EXPECT_EQ(variables.Lookup("A"), std::nullopt);
}

TEST_F(ActionsTest, AFilterNeverSeesValuesAnotherFilterCut) {
    SetFilter("first", schema::TextExtract,
              "Text extraction start (A)\r\nGo to line end\r\nText extraction end (A)\r\n");
    SetFilter("first", schema::TextVarNames, "A\r\n");
    SetFilter("first", schema::Actions, "Extract text from body\r\n");
    // A routine of its own, but no extraction action: its variable has no value yet.
    SetFilter("second", schema::TextVarNames, "C\r\n");
    SetFilter("second", schema::Actions, "Save data: d00001\r\n");
    t.home.Write("d00001.dat", "out.txt\r\n{C}|{A}\r\n");
    FakeServer pop3Server(RetrieveOnce());
    ConnectPop3(pop3Server);

    ExecuteFilterActions(session, "first");
    ExecuteFilterActions(session, "second");

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_EQ(t.home.Read("out.txt"), "{C}|{A}\r\n");
}

TEST_F(ActionsTest, LineBreakInAnExtractedAddressNeverReachesTheEnvelope) {
    SetFilter("f", schema::TextExtract,
              "Go to string in msg: a@b\r\nText extraction start (Who)\r\n"
              "Go to string in msg: end\r\nText extraction end (Who)\r\n");
    SetFilter("f", schema::TextVarNames, "Who\r\n");
    SetFilter("f", schema::Actions, "Extract text from body\r\nFwd to: {Who}, ok@example.com\r\n");
    FakeServer pop3Server(RetrieveOnce());
    FakeServer smtpServer(test::AcceptMessage(1));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);

    ExecuteFilterActions(session, "f");

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    smtpServer.Finish();
    const auto who = session.Message().messageVariables.Lookup("Who");
    ASSERT_TRUE(who.has_value());
    EXPECT_EQ(*who, "a@b.example\r\nRCPT TO:<victim@evil.example>");
    const auto received = smtpServer.Received();
    const auto commands = received.substr(0, received.find("DATA\r\n"));
    EXPECT_EQ(commands.find("victim"), std::string::npos) << commands;
    const auto dialogues = SmtpDialogues(smtpServer);
    ASSERT_EQ(dialogues.size(), 1U);
    EXPECT_EQ(dialogues[0].recipients, std::vector<std::string>{"ok@example.com"});
}

TEST_F(ActionsTest, ExternalProgramGetsTheRetrievedMessageFile) {
    t.home.Write("My Script", "#!/bin/sh\nprintf '%s|' \"$@\" > args.txt\ncp \"$1\" seen.txt\n");
    const std::string program = t.home.File("My Script");
    ::chmod(program.c_str(), 0755);
    SetFilter("f", schema::Actions,
              "Ext prog: " + program + "\r\nExt prog: /nonexistent/Program -x\r\n");
    FakeServer pop3Server(RetrieveOnce());
    ConnectPop3(pop3Server);

    EXPECT_EQ(ExecuteFilterActions(session, "f"), ActionOutcome::Continue);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    // A path naming an existing file runs as it stands, blanks and capitals included.
    EXPECT_EQ(t.home.Read("args.txt"), t.home.File("zelm.dat") + "|");
    EXPECT_EQ(t.home.Read("seen.txt"), JoinListValue(Received()));
    EXPECT_EQ(SessionTexts(),
              (std::vector<std::string>{" - msg to ext prog " + program,
                                        " - msg to ext prog /nonexistent/Program -x"}));
    EXPECT_EQ(ErrorTexts(),
              std::vector<std::string>{"Error running external program /nonexistent/Program -x"});
    EXPECT_EQ(Panel3(), (std::vector<std::string>{"Ext prog", "", "Ext prog", "Error", ""}));
}

} // namespace
} // namespace zelm
