#include "app/usage.h"

#include "core/program_info.h"

namespace zelm {

std::string UsageText() {
    const std::string z = ProgramName;
    return "Usage:\n"
           "  " +
           z +
           " [--home DIR]                      the desktop window\n"
           "  " +
           z +
           " [--home DIR] session [--verbose] [--repeat SECONDS]\n"
           "  " +
           z +
           " [--home DIR] session --dry-run [--mailbox NAME] [--limit N] [--json]\n"
           "  " +
           z +
           " [--home DIR] settings get KEYPATH NAME\n"
           "  " +
           z +
           " [--home DIR] settings set [--type string|int|list|password] [--] "
           "KEYPATH NAME [VALUE...]\n"
           "  " +
           z +
           " [--home DIR] settings delete KEYPATH [NAME]\n"
           "  " +
           z +
           " [--home DIR] settings list KEYPATH\n"
           "  " +
           z +
           " [--home DIR] settings export [FILE]\n"
           "  " +
           z +
           " [--home DIR] settings import FILE\n"
           "\n"
           "The home folder is --home DIR, else $ZELM_HOME, else $XDG_DATA_HOME/zelm\n"
           "(~/.local/share/zelm). KEYPATH is relative to the settings root, parts separated\n"
           "by \"/\" or \"\\\", e.g. Mailboxes/home/Filters/spam; \"\" or \"/\" is the root.\n"
           "\"--\" ends the options, so values may begin with \"-\".\n"
           "session --dry-run shows what a session would do with each message, and why,\n"
           "without doing it: nothing is deleted, sent, run or written (RETR is used).\n"
           "Exit status: 0 success, 1 refused or failed, 2 usage error.\n";
}

std::string UsageHint() {
    return "Try '" + std::string(ProgramName) + " --help'.\n";
}

} // namespace zelm
