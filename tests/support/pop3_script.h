#pragma once

#include <string>
#include <vector>

#include "tests/support/fake_server.h"

// POP3 dialogues for the fake server, each reply after an optional delay, so a test can keep a
// session waiting on a slow server.
namespace zelm::test {

/// The greeting, USER, PASS and STAT with total messages.
std::vector<ScriptStep> Pop3LoginScript(const std::string& user, int total, int delayMs = 0);
/// UIDL, LIST and TOP of message n with a small header.
std::vector<ScriptStep> Pop3MessageScript(int n, const std::string& uid, int delayMs = 0);
/// QUIT and its reply.
std::vector<ScriptStep> Pop3QuitScript();
/// The parts one after the other.
std::vector<ScriptStep> JoinScripts(const std::vector<std::vector<ScriptStep>>& parts);

} // namespace zelm::test
