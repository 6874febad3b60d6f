#include "session/screening.h"

#include <gtest/gtest.h>

#include "tests/session/message_fixture.h"

namespace zelm {
namespace {

using test::FakeServer;
using test::RetrReply;
using test::SmtpDialogues;
namespace script = test::script;

const std::vector<std::string> kBody = {"Buy now.", ".hidden dot line"};

std::vector<std::string> Received(const std::vector<std::string>& header) {
    auto lines = header;
    lines.insert(lines.end(), kBody.begin(), kBody.end());
    return lines;
}

TEST(ListEntryMatches, CaseInsensitiveSubstringOfLettersAToZOnly) {
    struct Case {
        const char* entry;
        const char* value;
        bool matches;
    };
    const Case cases[] = {
        {"Smith", "John SMITH <anything@example.com>", true},
        {"spam.com", "a@SPAM.COM", true},
        {"", "a@b", false},
        {"   ", "a   b", false},
        {"\t", "a\tb", false},
        {" spam", "nospam.com", false}, // the blank is part of the entry
        {" spam", "no spam.com", true},
        {"x", "", false},
        {"\xc9t\xc9", "\xe9t\xe9", false}, // only A to Z are lowered
        {"bob@x", "bob@y", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + " in " + c.value);
        EXPECT_EQ(ListEntryMatches(c.entry, c.value), c.matches);
    }
}

TEST(HasCustomText, OnlyALineFromTheThirdOnCounts) {
    EXPECT_FALSE(HasCustomText({}));
    EXPECT_FALSE(HasCustomText({"From: me@x", "Subject: No"}));
    EXPECT_FALSE(HasCustomText({"From: me@x", "Subject: No", "", "   ", "\t"}));
    EXPECT_TRUE(HasCustomText({"From: me@x", "Subject: No", "", "Go away."}));
    EXPECT_TRUE(HasCustomText({"From:", "", "Go away."}));
}

TEST(IsAutomaticMessage, HeadersThatStopAReturn) {
    struct Case {
        const char* what;
        std::vector<std::string> header;
        const char* returnPath;
        bool automatic;
    };
    const Case cases[] = {
        {"a person's message", {"From: Ann <ann@example.com>", ""}, "Ann <ann@example.com>", false},
        {"Auto-Submitted: no", {"Auto-Submitted: no", ""}, "ann@example.com", false},
        {"no with a comment", {"auto-submitted: No (by hand)", ""}, "ann@example.com", false},
        {"auto-replied", {"Auto-Submitted: auto-replied", ""}, "ann@example.com", true},
        {"auto-generated, folded",
         {"AUTO-SUBMITTED:", "  auto-generated", ""},
         "ann@example.com",
         true},
        {"an empty Auto-Submitted", {"Auto-Submitted:", ""}, "ann@example.com", true},
        {"Precedence: bulk", {"Precedence: bulk", ""}, "ann@example.com", true},
        {"Precedence: junk", {"Precedence: JUNK", ""}, "ann@example.com", true},
        {"Precedence: list", {"Precedence: list", ""}, "ann@example.com", true},
        {"another Precedence", {"Precedence: first-class", ""}, "ann@example.com", false},
        {"Return-Path: <>", {"Return-Path: <>", ""}, "<>", true},
        {"an empty Return-Path field",
         {"Return-Path:", "From: ann@example.com", ""},
         "ann@example.com",
         true},
        {"no address to return to", {""}, "", true},
        {"MAILER-DAEMON", {""}, "Mail Delivery <MAILER-DAEMON@mx.example.com>", true},
        {"postmaster", {""}, "Postmaster@example.com", true},
        {"a postmaster in the name only", {""}, "postmaster-fan@example.com", false},
        {"fields after the header do not count",
         {"From: ann@example.com", "", "Precedence: bulk"},
         "ann@example.com",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsAutomaticMessage(c.header, c.returnPath), c.automatic);
    }
}

// Screening with every response switched on: any response that ran would need a server, and
// none is there, so a decision without lines and without errors proves nothing ran.
class ScreeningDecisionTest : public test::MessageFixture {
protected:
    ScreeningDecisionTest() {
        session.settings.forwardToEnabled = true;
        session.settings.forwardAddress = "archive@home.example";
        session.settings.bounceEnabled = true;
        session.settings.deleteEnabled = true;
    }
};

TEST_F(ScreeningDecisionTest, AcceptListBeatsRejectList) {
    session.acceptList = {"", "smith"};
    session.rejectList = {"sender.example"};
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Accepted);
    EXPECT_EQ(SessionTexts(), std::vector<std::string>{" - accepted"});
    EXPECT_TRUE(ErrorTexts().empty());
}

TEST_F(ScreeningDecisionTest, AcceptListIsTestedAgainstFromOnly) {
    session.acceptList = {"offers@spam.example"}; // only in Reply-To
    session.settings.rejectListEnabled = false;
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Neither);
    EXPECT_TRUE(SessionTexts().empty());
}

TEST_F(ScreeningDecisionTest, DisabledAcceptListAndEmptyListsPassToTheRejectList) {
    session.settings.acceptListEnabled = false;
    session.acceptList = {"smith"};
    session.settings.rejectListEnabled = false;
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Neither);

    session.settings.acceptListEnabled = true;
    session.acceptList.clear();
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Neither);
    EXPECT_TRUE(SessionTexts().empty());
}

TEST_F(ScreeningDecisionTest, RejectListEntriesThatMatchNothing) {
    session.rejectList = {"", "   ", "nowhere.example"};
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Neither);
    EXPECT_TRUE(SessionTexts().empty());
}

TEST_F(ScreeningDecisionTest, RejectedWithoutResponsesIsOnlyCounted) {
    session.settings.forwardToEnabled = false;
    session.settings.bounceEnabled = false;
    session.settings.deleteEnabled = false;
    session.rejectList = {"SPAM.example"}; // only in Reply-To (and Return-Path from it)
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);
    EXPECT_TRUE(SessionTexts().empty());
    EXPECT_TRUE(ErrorTexts().empty());
}

class ScreeningResponseTest : public test::MessageFixture {};

TEST_F(ScreeningResponseTest, ForwardReturnAndDeleteRunInOrderOnOneRetrieval) {
    FakeServer pop3Server({script::Expect("RETR 1\r\n"),
                           script::Send(RetrReply(Received(test::SpamHeader()))),
                           script::Expect("DELE 1\r\n"), script::Send("+OK marked\r\n")});
    FakeServer smtpServer(test::AcceptMessages({2, 1}));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);
    session.settings.forwardToEnabled = true;
    session.settings.forwardAddress = "{From}, archive@home.example";
    session.settings.bounceEnabled = true;
    session.settings.deleteEnabled = true;
    session.rejectList = {"spam.example"};

    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_TRUE(smtpServer.Finish()) << smtpServer.Failure();
    EXPECT_EQ(SessionTexts(),
              (std::vector<std::string>{" - sent msg to john@sender.example,archive@home.example",
                                        " - rejected (forwarded to {From}, archive@home.example)",
                                        " - sent msg to offers@spam.example",
                                        " - rejected (returned to Offers <offers@spam.example>)",
                                        " - rejected (deleted)"}));
    const auto dialogues = SmtpDialogues(smtpServer);
    ASSERT_EQ(dialogues.size(), 2U);
    // The received message goes out as it came, its own header first, dots stuffed again.
    const std::string asReceived = "From: John SMITH <john@sender.example>\r\n"
                                   "To: me@home.example\r\nSubject: Cheap offers\r\n"
                                   "Reply-To: Offers <offers@spam.example>\r\n\r\n"
                                   "Buy now.\r\n..hidden dot line\r\n";
    EXPECT_EQ(dialogues[0].recipients,
              (std::vector<std::string>{"john@sender.example", "archive@home.example"}));
    EXPECT_EQ(dialogues[0].data, asReceived);
    EXPECT_EQ(dialogues[1].recipients, std::vector<std::string>{"offers@spam.example"});
    EXPECT_EQ(dialogues[1].data, asReceived);
}

TEST_F(ScreeningResponseTest, AutomaticMessageIsNotReturnedButForwardedAndDeleted) {
    auto header = test::SpamHeader();
    header.insert(header.begin(), "Auto-Submitted: auto-replied");
    LoadMessage(1, header);
    FakeServer pop3Server({script::Expect("RETR 1\r\n"), script::Send(RetrReply(Received(header))),
                           script::Expect("DELE 1\r\n"), script::Send("+OK marked\r\n")});
    FakeServer smtpServer(test::AcceptMessage(1));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);
    session.settings.forwardToEnabled = true;
    session.settings.forwardAddress = "archive@home.example";
    session.settings.bounceEnabled = true;
    session.settings.deleteEnabled = true;
    session.rejectList = {"spam.example"};
    session.rejectText = {"From: postmaster@home.example", "Subject: Refused", "", "Go away."};

    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_TRUE(smtpServer.Finish()) << smtpServer.Failure();
    EXPECT_EQ(SessionTexts(),
              (std::vector<std::string>{" - sent msg to archive@home.example",
                                        " - rejected (forwarded to archive@home.example)",
                                        " - rejected (not returned: automatic message)",
                                        " - rejected (deleted)"}));
}

TEST_F(ScreeningResponseTest, CustomReplyGoesToEachMessagesOwnSenderOnly) {
    const std::vector<std::string> secondHeader = {"From: Eve <eve@spam.example>", "Subject: Again",
                                                   ""};
    FakeServer pop3Server(
        {script::Expect("RETR 1\r\n"), script::Send(RetrReply(Received(test::SpamHeader()))),
         script::Expect("RETR 2\r\n"), script::Send(RetrReply(Received(secondHeader)))});
    FakeServer smtpServer(test::AcceptMessages({1, 1}));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);
    session.settings.bounceEnabled = true;
    session.rejectList = {"spam.example"};
    session.rejectText = {"From: postmaster@home.example", "Subject: Refused: {Subject}", "",
                          "Your message to {To} was refused."};
    const auto storedText = session.rejectText;

    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);
    LoadMessage(2, secondHeader);
    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_TRUE(smtpServer.Finish()) << smtpServer.Failure();
    EXPECT_EQ(session.rejectText, storedText);
    EXPECT_FALSE(t.home.Exists("zelmb$$$.$$$"));
    const auto texts = SessionTexts();
    ASSERT_EQ(texts.size(), 4U);
    EXPECT_EQ(texts[1], " - rejected (returned with custom msg to Offers <offers@spam.example>)");
    EXPECT_EQ(texts[3], " - rejected (returned with custom msg to Eve <eve@spam.example>)");

    const auto dialogues = SmtpDialogues(smtpServer);
    ASSERT_EQ(dialogues.size(), 2U);
    EXPECT_EQ(dialogues[0].recipients, std::vector<std::string>{"offers@spam.example"});
    EXPECT_EQ(dialogues[1].recipients, std::vector<std::string>{"eve@spam.example"});
    EXPECT_NE(dialogues[0].data.find("\r\nTo: Offers <offers@spam.example>\r\n"),
              std::string::npos);
    EXPECT_NE(dialogues[0].data.find("Subject: Refused: Cheap offers\r\n"), std::string::npos);
    // The reply's last header line says a program sent it.
    EXPECT_NE(dialogues[0].data.find("\r\nAuto-Submitted: auto-replied\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(dialogues[0].data.find("to me@home.example was refused."), std::string::npos);
    EXPECT_NE(dialogues[1].data.find("\r\nTo: Eve <eve@spam.example>\r\n"), std::string::npos);
    EXPECT_EQ(dialogues[1].data.find("offers@spam.example"), std::string::npos)
        << "the first sender leaked into the second reply";
}

TEST_F(ScreeningResponseTest, BlankReplyBodyReturnsTheMessageItself) {
    FakeServer pop3Server(
        {script::Expect("RETR 1\r\n"), script::Send(RetrReply(Received(test::SpamHeader())))});
    FakeServer smtpServer(test::AcceptMessage(1));
    ConnectPop3(pop3Server);
    UseSmtp(smtpServer);
    session.settings.bounceEnabled = true;
    session.rejectList = {"spam.example"};
    session.rejectText = {"From: postmaster@home.example", "Subject: Refused", "", "  "};

    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);

    EXPECT_TRUE(smtpServer.Finish()) << smtpServer.Failure();
    EXPECT_EQ(SessionTexts().back(), " - rejected (returned to Offers <offers@spam.example>)");
    const auto dialogues = SmtpDialogues(smtpServer);
    ASSERT_EQ(dialogues.size(), 1U);
    EXPECT_EQ(dialogues[0].data.rfind("From: John SMITH", 0), 0U);
}

TEST_F(ScreeningResponseTest, UnretrievableMessageSkipsForwardAndReturnButIsDeleted) {
    FakeServer pop3Server({script::Expect("RETR 1\r\n"), script::Send("-ERR no such message\r\n"),
                           script::Expect("RETR 1\r\n"), script::Send("-ERR no such message\r\n"),
                           script::Expect("DELE 1\r\n"), script::Send("+OK\r\n")});
    ConnectPop3(pop3Server);
    session.settings.forwardToEnabled = true;
    session.settings.forwardAddress = "archive@home.example";
    session.settings.bounceEnabled = true;
    session.settings.deleteEnabled = true;
    session.rejectList = {"spam.example"};

    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    EXPECT_EQ(SessionTexts(),
              (std::vector<std::string>{
                  " - forward of the rejected message skipped: the message could not be retrieved",
                  " - return of the rejected message skipped: the message could not be retrieved",
                  " - rejected (deleted)"}));
    // Nothing was sent: the SMTP port is closed, and a try would have logged a failure.
    for (const auto& line : ErrorTexts())
        EXPECT_EQ(line.find("SMTP"), std::string::npos) << line;
}

TEST_F(ScreeningResponseTest, UnreadableReplyAttachmentSkipsTheReplyOnly) {
    FakeServer pop3Server({script::Expect("RETR 1\r\n"),
                           script::Send(RetrReply(Received(test::SpamHeader()))),
                           script::Expect("DELE 1\r\n"), script::Send("+OK\r\n")});
    ConnectPop3(pop3Server);
    session.settings.bounceEnabled = true;
    session.settings.deleteEnabled = true;
    session.rejectList = {"spam.example"};
    session.rejectText = {"From: postmaster@home.example", "Subject: Refused", "",
                          "Attachment: " + t.home.File("missing.pdf"), "See attached."};

    EXPECT_EQ(ScreenMessage(session), ScreenResult::Rejected);

    EXPECT_TRUE(pop3Server.Finish()) << pop3Server.Failure();
    const auto texts = SessionTexts();
    ASSERT_EQ(texts.size(), 2U);
    EXPECT_EQ(texts[0].rfind(" - custom reply to Offers <offers@spam.example> not sent: ", 0), 0U)
        << texts[0];
    EXPECT_EQ(texts[1], " - rejected (deleted)");
    EXPECT_FALSE(t.home.Exists("zelmb$$$.$$$"));
}

} // namespace
} // namespace zelm
