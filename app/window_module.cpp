// The desktop window as a module of its own: only `zelm` without a command loads it, so
// `session` and `settings` start without Qt's libraries (cron runs them often; loading Qt cost
// more than a whole session over a quiet mailbox).
#include "app/window_module.h"

#include "ui/run_desktop.h"

extern "C" int ZelmRunDesktop(int* argc, char** argv, const char* programDir, int alreadyRunning) {
    return zelm::RunDesktop(*argc, argv, programDir, alreadyRunning != 0);
}
