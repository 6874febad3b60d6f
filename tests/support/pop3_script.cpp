#include "tests/support/pop3_script.h"

namespace zelm::test {
namespace {

/// The reply, after the delay when there is one.
void Reply(std::vector<ScriptStep>& steps, const std::string& reply, int delayMs) {
    if (delayMs > 0) steps.push_back(script::Wait(delayMs));
    steps.push_back(script::Send(reply));
}

} // namespace

std::vector<ScriptStep> Pop3LoginScript(const std::string& user, int total, int delayMs) {
    std::vector<ScriptStep> steps;
    Reply(steps, "+OK ready\r\n", delayMs);
    steps.push_back(script::Expect("USER " + user + "\r\n"));
    Reply(steps, "+OK\r\n", delayMs);
    steps.push_back(script::Expect("PASS pw\r\n"));
    Reply(steps, "+OK\r\n", delayMs);
    steps.push_back(script::Expect("STAT \r\n"));
    Reply(steps, "+OK " + std::to_string(total) + " 1000\r\n", delayMs);
    return steps;
}

std::vector<ScriptStep> Pop3MessageScript(int n, const std::string& uid, int delayMs) {
    const std::string number = std::to_string(n);
    std::vector<ScriptStep> steps;
    steps.push_back(script::Expect("UIDL " + number + "\r\n"));
    Reply(steps, "+OK " + number + " " + uid + "\r\n", delayMs);
    steps.push_back(script::Expect("LIST " + number + "\r\n"));
    Reply(steps, "+OK " + number + " 120\r\n", delayMs);
    steps.push_back(script::Expect("TOP " + number + " 0\r\n"));
    Reply(steps, "+OK\r\nFrom: f@example.com\r\nSubject: message " + number + "\r\n\r\n.\r\n",
          delayMs);
    return steps;
}

std::vector<ScriptStep> Pop3QuitScript() {
    return {script::Expect("QUIT\r\n"), script::Send("+OK bye\r\n")};
}

std::vector<ScriptStep> JoinScripts(const std::vector<std::vector<ScriptStep>>& parts) {
    std::vector<ScriptStep> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace zelm::test
