#pragma once

#include <string>
#include <vector>

#include "session/session.h"

namespace zelm {

/// Outcome of screening one message against the accept and reject lists.
enum class ScreenResult { Accepted, Rejected, Neither };

/// The lists' matching rule: a case-insensitive substring test (A to Z only); an entry that
/// is blank after trimming, or an empty header value, matches nothing.
bool ListEntryMatches(const std::string& entry, const std::string& headerValue);

/// The Reject Text holds a custom reply: a line from the third on is not blank.
bool HasCustomText(const std::vector<std::string>& rejectText);

/// The message was sent by a program, not a person (RFC 3834): "Auto-Submitted" other than
/// "no", "Precedence" bulk, junk or list, an empty or "<>" Return-Path field, or a return
/// address that is none or a MAILER-DAEMON's or postmaster's. Returning it could start a loop.
bool IsAutomaticMessage(const std::vector<std::string>& headerLines, const std::string& returnPath);

/// Tests the accept list against From, then the reject list against the originator, and
/// carries out the mailbox's reject responses (forward, return, delete, in that order). The
/// driver counts Acc and Rej from the result.
ScreenResult ScreenMessage(ProcessingSession& session);

} // namespace zelm
