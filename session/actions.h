#pragma once

#include <string>
#include <vector>

#include "session/session.h"

namespace zelm {

/// Whether further filters may be tried for the message after a filter's actions ran.
enum class ActionOutcome { Stop, Continue };

/// The action lines of a stored "Actions" value: every piece before its last CR LF.
std::vector<std::string> ActionLines(const std::string& actionsValue);

/// Makes sure the current message's text is at hand for an action or reject response that
/// needs it, retrieving it once. When it cannot be retrieved, writes the session-log line
/// " - " + what + " skipped: the message could not be retrieved" and returns false.
bool RetrieveForResponse(ProcessingSession& session, const std::string& what);

/// Runs the named filter's action lines of the current mailbox in stored order (Delete,
/// Extract text, Fwd, Ext prog, Save data, Send msg, Stop). An action whose message text,
/// template or output file is not to be had is skipped with a session-log line, and the next
/// one runs.
ActionOutcome ExecuteFilterActions(ProcessingSession& session, const std::string& filterName);

} // namespace zelm
