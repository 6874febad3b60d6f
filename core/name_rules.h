#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What names keys may have: a mailbox name is also a file and a folder name in the home
// folder, a filter name one key name; every other key name is refused control characters.
namespace zelm {

/// The key names a path is made of: parts joined by "\\" or "/", empty parts dropped.
std::vector<std::string> SplitKeyPath(const std::string& path);

/// Empty when name may be a mailbox name, else the reason it is refused.
std::string MailboxNameProblem(const std::string& name);
/// Empty when name may be a mailbox name, else the message that refuses it ("The mailbox name
/// ... is refused: ...").
std::string MailboxNameRefusal(const std::string& name);
/// Empty when name may be a filter name, else the reason it is refused.
std::string FilterNameProblem(const std::string& name);
/// Empty when name may be a filter name, else the message that refuses it ("The filter name
/// ... is refused: ...").
std::string FilterNameRefusal(const std::string& name);
/// Empty when name is one key name that may also be a file name: not empty, no "/" or "\\",
/// not "." or "..", no control characters. Mailbox and filter names pass it and more.
std::string CommonNameProblem(const std::string& name);
/// The message refusing to create the key parts[index] below parts[0..index), empty when it
/// may be created.
std::string KeyNameProblem(const std::vector<std::string>& parts, std::size_t index);

} // namespace zelm
