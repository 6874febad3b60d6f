#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/config_store.h"
#include "core/schema.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/filter_evaluation.h"
#include "session/session.h"
#include "session/session_driver.h"
#include "session/test_run.h"
#include "session/test_run_report.h"
#include "tests/support/real_servers.h"
#include "tests/support/test_home.h"

// The test run against the real Dovecot (users u39, u40) and SMTP sink: it changes nothing,
// and the real session then does exactly what it reported.
namespace zelm {
namespace {

constexpr const char* kMailbox = "box";

std::string UniqueToken(const std::string& name) {
    static int counter = 0;
    return name + "-" + std::to_string(::getpid()) + "-" + std::to_string(std::time(nullptr)) +
           "-" + std::to_string(++counter);
}

std::string MessageText(const std::string& from, const std::string& subject,
                        const std::string& body = "Hello.\r\n") {
    return "From: " + from + "\r\nTo: me@home.example\r\nSubject: " + subject + "\r\n\r\n" + body;
}

// Every file below the home folder with its size and modification time. SQLite's
// shared-memory index (settings.db-shm) is left out: every reader of the store writes it.
std::map<std::string, std::string> Listing(const std::string& dir) {
    std::map<std::string, std::string> files;
    DIR* handle = ::opendir(dir.c_str());
    if (!handle) return files;
    while (const dirent* entry = ::readdir(handle)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "settings.db-shm") continue;
        const std::string path = dir + "/" + name;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) continue;
        files[path] = std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) +
                      "." + std::to_string(info.st_mtim.tv_nsec);
        if (S_ISDIR(info.st_mode)) {
            for (auto& [inner, stamp] : Listing(path))
                files[inner] = stamp;
        }
    }
    ::closedir(handle);
    return files;
}

class TestRunTest : public ::testing::Test {
protected:
    TestRunTest() { t.ui.headerFieldNames = BuiltInHeaderFieldList(); }

    test::RealMailbox UseMailbox(const std::string& user) {
        test::RealMailbox mailbox(user);
        mailbox.Clear();
        WriteRegBool(t.db, MailboxKeyPath(kMailbox), schema::MailboxEnabled, true);
        Set(schema::Host, "127.0.0.1");
        Set(schema::Port, std::to_string(test::RealPop3Port()));
        Set(schema::UserID, user);
        Set(schema::Password, ScramblePassword(test::kRealPassword));
        Set(schema::SMTPHost, "127.0.0.1");
        Set(schema::SMTPPort, std::to_string(test::RealSmtpPort()));
        Set(schema::SMTPFrom, "Zelm <zelm@home.example>");
        return mailbox;
    }
    void Set(const std::string& name, const std::string& value) {
        WriteRegString(t.db, MailboxKeyPath(kMailbox), name, value);
    }
    void AddFilter(const std::string& filter, const std::string& rules,
                   const std::string& actions) {
        m_operation += filter + "\r\n";
        Set(schema::Operation, m_operation);
        WriteRegString(t.db, FilterKeyPath(kMailbox, filter), schema::Rules, rules);
        WriteRegString(t.db, FilterKeyPath(kMailbox, filter), schema::Actions, actions);
    }

    // The session log's message texts (" Msg: ..." and " - ..."), without the SMTP sender's
    // lines, which only a real send writes.
    std::vector<std::string> RealMessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& line : t.ui.sessionLines) {
            const auto text = line.substr(21, line.size() - 23);
            if (text.rfind(" ", 0) != 0) continue;
            const bool notSent =
                text.rfind(" - msg to ", 0) == 0 && text.find(" not sent: ") != std::string::npos;
            if (text.rfind(" - sent msg to ", 0) == 0 || notSent) continue;
            texts.push_back(text);
        }
        return texts;
    }

    test::TestContext t;
    Pop3Client pop3{t.context};
    SmtpSender smtp{t.context};
    ProcessingSession session{t.context, pop3, smtp};

private:
    std::string m_operation;
};

const ReportStep* FindStep(const MessageReport& message, const std::string& prefix) {
    for (const auto& filter : message.filters) {
        for (const auto& step : filter.actions) {
            if (step.reached && step.line.rfind(prefix, 0) == 0) return &step;
        }
    }
    for (const auto& step : message.responses) {
        if (step.line.rfind(prefix, 0) == 0) return &step;
    }
    return nullptr;
}

bool HasDetail(const ReportStep* step, const std::string& detail) {
    return step &&
           std::find(step->details.begin(), step->details.end(), detail) != step->details.end();
}

TEST_F(TestRunTest, ChangesNothingAndTheRealSessionDoesWhatItReported) {
    const auto mailbox = UseMailbox("u39");
    const auto token = UniqueToken("dry");
    const std::string archive = "archive-" + token + "@home.example";
    const std::string customer = "customer-" + token + "@example.com";
    mailbox.Drop(MessageText("friend@good.example", token + " accept"));
    mailbox.Drop(MessageText("junk@spam.example", token + " reject"));
    mailbox.Drop(MessageText("a@example.com", token + " delete"));
    mailbox.Drop(MessageText("b@example.com", token + " forward"));
    mailbox.Drop(
        MessageText(customer, token + " order", "Thank you.\r\nOrder number: 4711-X \r\nBye.\r\n"));
    mailbox.Drop(MessageText("c@example.com", token + " plain"));
    WriteSection(DataFilePath(t.home.Path(), kMailbox), kSectionAcceptList, {"good.example"});
    WriteSection(DataFilePath(t.home.Path(), kMailbox), kSectionRejectList, {"SPAM.example"});
    WriteRegBool(t.db, MailboxKeyPath(kMailbox), schema::DeleteEnabled, true);
    t.home.Write("d00001.dat", "orders.txt\r\n{Order} {Subject}\r\n");
    t.home.Write("m00001.dat", "From: shop@home.example\r\nSubject: Re: {Subject}\r\n"
                               "To: {From}\r\nCc: \r\n\r\nThanks.\r\n");
    t.home.Write("prog.sh", "#!/bin/sh\necho ran >> ran.txt\n");
    const auto program = t.home.File("prog.sh");
    ::chmod(program.c_str(), 0755);
    AddFilter("del", "      Subject contains `delete`\r\n",
              "Delete message\r\nFwd to: never-" + token + "@home.example\r\n");
    AddFilter("fwd", "      Subject contains `forward`\r\n",
              "Fwd to: " + archive + "\r\nStop (go to next message)\r\nDelete message\r\n");
    AddFilter("orders", "      Subject contains `order`\r\n",
              "Extract text from body\r\nSave data: d00001\r\nExt prog: " + program +
                  "\r\nSend msg: m00001\r\n");
    WriteRegString(t.db, FilterKeyPath(kMailbox, "orders"), schema::TextExtract,
                   "Go to string in msg: Order number:\r\nForward # of chars: 13\r\n"
                   "Text extraction start (Order)\r\nGo to line end\r\n"
                   "Text extraction end (Order)\r\n");
    WriteRegString(t.db, FilterKeyPath(kMailbox, "orders"), schema::TextVarNames, "Order\r\n");
    const auto before = Listing(t.home.Dir());

    TestRun run;
    ASSERT_EQ(RunTestRun(session, run), SessionOutcome::Ran);

    EXPECT_EQ(mailbox.Count(), 6U) << "Dovecot holds every message";
    for (const auto& message : test::ReadSmtpSpool())
        EXPECT_EQ(message.data.find(token), std::string::npos) << "the sink received a message";
    EXPECT_EQ(Listing(t.home.Dir()), before) << "a file of the home folder changed";
    EXPECT_TRUE(t.ui.sessionLines.empty());
    EXPECT_TRUE(t.ui.errorLines.empty());

    ASSERT_EQ(run.report.mailboxes.size(), 1U);
    const auto& messages = run.report.mailboxes[0].messages;
    ASSERT_EQ(messages.size(), 6U);
    EXPECT_EQ(messages[0].fate, MessageFate::Accepted);
    EXPECT_EQ(messages[0].acceptEntry, "good.example");
    EXPECT_EQ(messages[1].fate, MessageFate::Rejected);
    EXPECT_EQ(messages[1].rejectEntry, "SPAM.example");
    EXPECT_TRUE(messages[1].deleted);
    EXPECT_TRUE(messages[2].deleted);
    // After its DELE the server refuses RETR, so the forward that follows cannot run.
    EXPECT_TRUE(HasDetail(FindStep(messages[2], "Fwd"),
                          "the server refuses RETR of a message marked for deletion"));
    EXPECT_TRUE(HasDetail(FindStep(messages[3], "Fwd"), "send to: " + archive));
    ASSERT_EQ(messages[3].filters.size(), 3U);
    EXPECT_TRUE(messages[3].filters[1].stops);
    EXPECT_FALSE(messages[3].filters[1].actions[2].reached) << "Delete after Stop";
    EXPECT_FALSE(messages[3].filters[2].reached) << "the filter after Stop";
    EXPECT_FALSE(messages[3].deleted);
    EXPECT_TRUE(HasDetail(FindStep(messages[4], "Extract"), "{Order} = \"4711-X\""));
    EXPECT_TRUE(
        HasDetail(FindStep(messages[4], "Save data"), "append to: " + t.home.File("orders.txt")));
    EXPECT_TRUE(HasDetail(FindStep(messages[4], "Save data"), "line: 4711-X " + token + " order"));
    EXPECT_TRUE(HasDetail(FindStep(messages[4], "Ext prog"),
                          "argv: \"" + program + "\" \"" + t.home.File("zelm.dat") + "\""));
    EXPECT_TRUE(HasDetail(FindStep(messages[4], "Send msg"), "send to: " + customer));
    EXPECT_EQ(messages[5].fate, MessageFate::Filtered);
    EXPECT_TRUE(messages[5].log.size() == 1 && messages[5].filters.size() == 3);

    // The same mailbox, for real: message by message what the report said.
    t.ui.sessionLines.clear();
    ASSERT_EQ(RunSession(session), SessionOutcome::Ran);
    std::vector<std::string> reported;
    for (const auto& message : messages) {
        for (const auto& text : message.log)
            if (text.rfind("error: ", 0) != 0) reported.push_back(text);
    }
    EXPECT_EQ(reported, RealMessageTexts());
    EXPECT_EQ(mailbox.Count(), 4U) << "the two messages reported as deleted are gone";
    EXPECT_EQ(t.home.Read("orders.txt"), "4711-X " + token + " order\r\n");
    EXPECT_EQ(t.home.Read("ran.txt"), "ran\n");
    const auto forwarded = test::WaitForSpoolMessages(token + " forward", 1);
    ASSERT_EQ(forwarded.size(), 1U);
    EXPECT_EQ(forwarded[0].recipients, std::vector<std::string>{archive});
    const auto replied = test::WaitForSpoolMessages("Re: " + token + " order", 1);
    ASSERT_EQ(replied.size(), 1U);
    EXPECT_EQ(replied[0].recipients, std::vector<std::string>{customer});
    for (const auto& message : test::ReadSmtpSpool())
        EXPECT_EQ(message.data.find("never-" + token), std::string::npos);
}

TEST_F(TestRunTest, LimitAndMailboxChooseWhatIsLookedAt) {
    const auto mailbox = UseMailbox("u40");
    const auto token = UniqueToken("limit");
    for (int i = 1; i <= 3; ++i)
        mailbox.Drop(MessageText("a@example.com", token + " " + std::to_string(i)));
    WriteRegBool(t.db, MailboxKeyPath("other"), schema::MailboxEnabled, false);

    TestRun run({"BOX", 2});
    ASSERT_EQ(RunTestRun(session, run), SessionOutcome::Ran);

    ASSERT_EQ(run.report.mailboxes.size(), 1U) << "only the mailbox asked for";
    const auto& messages = run.report.mailboxes[0].messages;
    ASSERT_EQ(messages.size(), 3U);
    EXPECT_EQ(messages[1].subject, token + " 2");
    EXPECT_EQ(messages[2].fate, MessageFate::NotReached);
    EXPECT_EQ(messages[2].notReachedReason, "beyond --limit 2");
    // The second run finds the same messages new: the first cached nothing.
    TestRun again({"box", 0});
    ASSERT_EQ(RunTestRun(session, again), SessionOutcome::Ran);
    ASSERT_EQ(again.report.mailboxes.at(0).messages.size(), 3U);
    for (const auto& message : again.report.mailboxes[0].messages)
        EXPECT_EQ(message.fate, MessageFate::Filtered);
    EXPECT_FALSE(t.home.Exists("box.dat"));
}

// The report's lines for rule sets whose evaluation is easy to get wrong.
TEST(TestRunRulesTest, RuleLinesShowOwnAndRunningResults) {
    const std::vector<std::string> names = {"From", "Subject"};
    const std::vector<std::string> values = {"bob@example.com", "Monthly report"};
    const FilterMessage message{names, values, 5000};
    const struct {
        const char* name;
        std::string rules;
        bool matched;
        std::vector<std::string> lines;
    } cases[] = {
        {"A OR B AND C",
         "      Subject contains `report`\r\nOR    From contains `alice`\r\n"
         "AND   From contains `carol`\r\n",
         false,
         {"         rule 1 \"      Subject contains `report`\": OR true; result true",
          "         rule 2 \"OR    From contains `alice`\": OR false (not evaluated: already "
          "decided); result true",
          "=>       rule 3 \"AND   From contains `carol`\": AND false; result false"}},
        {"blank first connector",
         "\r\nAND   Subject contains `report`\r\n",
         false,
         {"         rule 1 \"\": blank, skipped; result false",
          "         rule 2 \"AND   Subject contains `report`\": AND true (not evaluated: "
          "already decided); result false"}},
        {"Size rule",
         "      Size is greater than `5000`\r\nOR    Size is less than `5000`\r\n",
         true,
         {"         rule 1 \"      Size is greater than `5000`\": OR false; result false",
          "=>       rule 2 \"OR    Size is less than `5000`\": OR true; result true"}},
        {"field not in the list",
         "      X-Spam contains `yes`\r\n",
         false,
         {"=>       rule 1 \"      X-Spam contains `yes`\": OR (names no field of the header "
          "field list) false; result false"}},
        {"negated rule and a connector of no effect",
         "      Subject does not contain `invoice`\r\nand   From contains `nobody`\r\n",
         true,
         {"=>       rule 1 \"      Subject does not contain `invoice`\": OR true; result true",
          "         rule 2 \"and   From contains `nobody`\": connector \"and\" is neither AND "
          "nor OR: no effect; result true"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageReport report;
        report.fate = MessageFate::Filtered;
        FilterReport& filter = report.filters.emplace_back();
        filter.name = "f";
        filter.matched = EvaluateRules(c.rules, message, &filter.rules);
        EXPECT_EQ(filter.matched, c.matched);
        EXPECT_EQ(filter.matched, EvaluateRules(c.rules, message)) << "the trace changes nothing";
        std::vector<std::string> lines;
        for (const auto& line : MessageReportLines(report)) {
            const auto text = ReportLineText(line);
            if (text.find("rule ") != std::string::npos) lines.push_back(text);
        }
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(TestRunJsonTest, BytesThatAreNotUtf8StillGiveValidJson) {
    MailboxReport mailbox;
    mailbox.name = "box";
    MessageReport message;
    message.number = 1;
    message.subject = "caf\xc3\xa9 \xe9\t\"q\"\\";
    const auto json = MessageJson(mailbox, message);
    EXPECT_NE(json.find("\"subject\":\"caf\xc3\xa9 \\u00e9\\t\\\"q\\\"\\\\\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"size\":null"), std::string::npos);
}

} // namespace
} // namespace zelm
