#include "core/name_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace zelm {
namespace {

TEST(NameChecks, MailboxAndFilterNames) {
    struct Case {
        std::string name;
        bool mailboxOk;
        bool filterOk;
    };
    const Case cases[] = {
        {"home", true, true},
        {"Office 2", true, true},
        {"caf\xc3\xa9", true, true},
        {"m1234", true, true},   // not five digits
        {"m123456", true, true}, // not five digits
        {"x00001", true, true},  // neither m nor d
        {"zelmx", true, true},
        {"Mon.log.bak", true, true},
        {"", false, false},
        {"a/b", false, false},
        {"a\\b", false, false},
        {".", false, false},
        {"..", false, false},
        {"tab\there", false, false},
        {"bell\x07", false, false},
        {"del\x7f", false, false},
        {"zelm", false, true},
        {"ZELM", false, true},
        {"m00001", false, true},
        {"D12345", false, true},
        {"settings.db", false, true},
        {"Settings.DB-wal", false, true},
        {"zelm.lock", false, true},
        {"error.log", false, true},
        {"Mon.log", false, true},
        {"sun.LOG.old", false, true},
        {"zelm.dat", false, true},
        {"zelm$$$$.$$$", false, true},
        {"zelmb$$$.$$$", false, true},
        {"home.dat", false, true}, // its outbox folder would take home's data file
        {"home.JNL", false, true}, // and this one home's journal
        {"home.jn", true, true},
        {std::string(251, 'a'), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MailboxNameProblem(c.name).empty(), c.mailboxOk) << MailboxNameProblem(c.name);
        EXPECT_EQ(FilterNameProblem(c.name).empty(), c.filterOk) << FilterNameProblem(c.name);
    }
}

} // namespace
} // namespace zelm
