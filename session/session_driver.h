#pragma once

#include <string>
#include <vector>

#include "core/config_store.h"
#include "core/engine_context.h"
#include "session/session.h"

namespace zelm {

/// How a call of RunSession ended.
enum class SessionOutcome {
    /// The run went from "Session Start" to "Session End".
    Ran,
    /// A run or the interactive browser already holds the connection; nothing was done.
    Busy,
    /// The logs could not be opened; nothing was set or written (the reason was shown).
    NotStarted,
    /// An error outside any mailbox cut the run short; it still ended with "Session End".
    EndedByError,
};

/// One processing session over every mailbox in name order. Every run that starts ends with
/// the flags cleared, "Session End" written, the logs closed and the timer restarted.
SessionOutcome RunSession(ProcessingSession& session);

class TestRun;

/// A test run: RunSession with every decision and no change (see session/test_run.h); the
/// decisions go into run's report. AbortSession stops it after the current message.
SessionOutcome RunTestRun(ProcessingSession& session, TestRun& run);

/// The abort button: the run ends after the current message and the current mailbox.
void AbortSession(EngineContext& context);

/// The stored mailbox names in ascending order without regard to case.
std::vector<std::string> SortedMailboxNames(SettingsDb& db);

/// Captions of the abort button.
inline constexpr const char* kAbortCaptionIdle = "Idle";
inline constexpr const char* kAbortCaptionPress = "Press to abort";
inline constexpr const char* kAbortCaptionInProgress = "Session in progress";
inline constexpr const char* kAbortCaptionAborting = "Aborting session...";

} // namespace zelm
