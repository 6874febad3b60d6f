#pragma once

#include <string>

#include "session/session.h"

namespace zelm {

/// Whether further filters may be tried for the message after a filter's actions ran.
enum class ActionOutcome { Stop, Continue };

/// Runs the named filter's action lines of the current mailbox in stored order.
ActionOutcome ExecuteFilterActions(ProcessingSession& session, const std::string& filterName);

} // namespace zelm
