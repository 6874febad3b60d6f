#pragma once

#include "session/session.h"

namespace zelm {

/// Outcome of screening one message against the accept and reject lists.
enum class ScreenResult { Accepted, Rejected, Neither };

/// Tests the accept list against From, then the reject list against the originator, and
/// carries out the mailbox's reject responses. The driver counts Acc and Rej from the result.
ScreenResult ScreenMessage(ProcessingSession& session);

} // namespace zelm
