#include "app/settings_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

#include "app/usage.h"
#include "core/config_store.h"
#include "core/program_info.h"
#include "core/settings_export.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"

namespace zelm {
namespace {

/// A usage error: reported with a hint and exit status 2.
struct UsageError {
    std::string message;
};

/// A refusal or failure: reported and exit status 1.
struct Refusal {
    std::string message;
};

enum class SetType { String, Int, List, Password };

struct Arguments {
    std::vector<std::string> positional;
    std::optional<SetType> type;
};

Arguments ParseArguments(const std::string& command, const std::vector<std::string>& args) {
    Arguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string typeName;
        if (command == "set" && arg == "--type") {
            if (i + 1 >= args.size()) throw UsageError{"--type needs a type"};
            typeName = args[++i];
        } else if (command == "set" && arg.rfind("--type=", 0) == 0) {
            typeName = arg.substr(7);
        } else {
            throw UsageError{"unknown option '" + arg + "' (a value that begins with \"-\" " +
                             "goes after \"--\")"};
        }
        if (typeName == "string") {
            parsed.type = SetType::String;
        } else if (typeName == "int") {
            parsed.type = SetType::Int;
        } else if (typeName == "list") {
            parsed.type = SetType::List;
        } else if (typeName == "password") {
            parsed.type = SetType::Password;
        } else {
            throw UsageError{"unknown type '" + typeName + "' (string, int, list or password)"};
        }
    }
    return parsed;
}

void ExpectCount(const Arguments& parsed, std::size_t least, std::size_t most,
                 const std::string& form) {
    if (parsed.positional.size() < least || parsed.positional.size() > most)
        throw UsageError{"usage: " + std::string(ProgramName) + " settings " + form};
}

/// The store path of a KEYPATH, which is relative to the settings root.
std::string StorePath(const std::string& keyPath) {
    return std::string(SettingsRoot) + "\\" + keyPath;
}

bool IsRootPath(const std::string& keyPath) {
    return std::all_of(keyPath.begin(), keyPath.end(),
                       [](char c) { return c == '/' || c == '\\'; });
}

std::int32_t ParseInt(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    std::int32_t number = 0;
    const auto [end, ec] = std::from_chars(first, last, number);
    if (text.empty() || ec != std::errc() || end != last || first == last)
        throw UsageError{"'" + text + "' is not a whole number from -2147483648 to 2147483647"};
    return number;
}

void OpenExisting(ConfigStore& store, const std::string& keyPath) {
    if (!store.OpenKey(StorePath(keyPath), false)) throw Refusal{"no key '" + keyPath + "'"};
}

std::string ReadFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Refusal{"cannot read '" + path + "': " + std::strerror(errno)};
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        if (got < 0) throw Refusal{"cannot read '" + path + "': " + std::strerror(error)};
        return content;
    }
}

void WriteFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw Refusal{"cannot write '" + path + "': " + std::strerror(errno)};
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            const int error = errno;
            ::close(fd);
            throw Refusal{"cannot write '" + path + "': " + std::strerror(error)};
        }
        done += static_cast<std::size_t>(written);
    }
    if (::close(fd) != 0) throw Refusal{"cannot write '" + path + "': " + std::strerror(errno)};
}

int Get(SettingsDb& db, const Arguments& parsed, std::ostream& out) {
    ExpectCount(parsed, 2, 2, "get KEYPATH NAME");
    const std::string& keyPath = parsed.positional[0];
    const std::string& name = parsed.positional[1];
    ConfigStore store(db);
    OpenExisting(store, keyPath);
    switch (store.GetValueType(name)) {
    case ValueType::Absent:
        throw Refusal{"no value '" + name + "' in '" + keyPath + "'"};
    case ValueType::Integer:
        out << store.ReadInteger(name) << '\n';
        break;
    case ValueType::String: {
        const std::string text = store.ReadString(name);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        break;
    }
    }
    return 0;
}

int Set(SettingsDb& db, const Arguments& parsed) {
    const SetType type = parsed.type.value_or(SetType::String);
    if (type == SetType::List) {
        ExpectCount(parsed, 2, SIZE_MAX, "set --type list [--] KEYPATH NAME [VALUE...]");
    } else if (type == SetType::Int) {
        ExpectCount(parsed, 3, 3, "set --type int [--] KEYPATH NAME VALUE");
    } else {
        ExpectCount(parsed, 2, 3, "set [--type string|password] [--] KEYPATH NAME [VALUE]");
    }
    const std::string& keyPath = parsed.positional[0];
    const std::string& name = parsed.positional[1];
    // Without a VALUE a string is the empty string, as a list is the empty list.
    const std::string text = parsed.positional.size() > 2 ? parsed.positional[2] : std::string();
    // Check the number before anything is created, so a usage error changes nothing.
    std::int32_t number = 0;
    if (type == SetType::Int) number = ParseInt(parsed.positional[2]);

    ConfigStore store(db);
    store.OpenKey(StorePath(keyPath), true);
    switch (type) {
    case SetType::String:
        store.WriteString(name, text);
        break;
    case SetType::Int:
        store.WriteInteger(name, number);
        break;
    case SetType::Password:
        store.WriteString(name, ScramblePassword(text));
        break;
    case SetType::List:
        store.WriteString(name, JoinListValue(std::vector<std::string>(
                                    parsed.positional.begin() + 2, parsed.positional.end())));
        break;
    }
    return 0;
}

int Delete(SettingsDb& db, const Arguments& parsed) {
    ExpectCount(parsed, 1, 2, "delete KEYPATH [NAME]");
    const std::string& keyPath = parsed.positional[0];
    ConfigStore store(db);
    if (parsed.positional.size() == 2) {
        const std::string& name = parsed.positional[1];
        OpenExisting(store, keyPath);
        if (!store.DeleteValue(name)) throw Refusal{"no value '" + name + "' in '" + keyPath + "'"};
        return 0;
    }
    if (IsRootPath(keyPath)) throw UsageError{"the settings root cannot be deleted"};
    // The key is deleted from its parent, which is KEYPATH without its last part.
    std::string trimmed = keyPath;
    while (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\'))
        trimmed.pop_back();
    const std::size_t cut = trimmed.find_last_of("/\\");
    const std::string parent = cut == std::string::npos ? "" : trimmed.substr(0, cut);
    const std::string last = cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
    if (!store.OpenKey(StorePath(parent), false) || !store.DeleteKey(last))
        throw Refusal{"no key '" + keyPath + "'"};
    return 0;
}

int List(SettingsDb& db, const Arguments& parsed, std::ostream& out) {
    ExpectCount(parsed, 1, 1, "list KEYPATH");
    ConfigStore store(db);
    OpenExisting(store, parsed.positional[0]);
    std::vector<std::string> names;
    store.GetKeyNames(names);
    std::sort(names.begin(), names.end(), LessNoCase);
    for (const auto& name : names)
        out << name << "\\\n";
    store.GetValueNames(names);
    std::sort(names.begin(), names.end(), LessNoCase);
    for (const auto& name : names)
        out << FormatSettingValue(store, name) << '\n';
    return 0;
}

/// A relative FILE names a file in the home folder: the program writes nothing in the folder it
/// was started from.
std::string InHomeFolder(const std::string& programDir, const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : programDir + path;
}

int Export(SettingsDb& db, const std::string& programDir, const Arguments& parsed,
           std::ostream& out) {
    ExpectCount(parsed, 0, 1, "export [FILE]");
    const std::string text = ExportSettings(db);
    if (parsed.positional.empty()) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    } else {
        WriteFile(InHomeFolder(programDir, parsed.positional[0]), text);
    }
    return 0;
}

int Import(SettingsDb& db, const std::string& programDir, const Arguments& parsed) {
    ExpectCount(parsed, 1, 1, "import FILE");
    const std::string path = InHomeFolder(programDir, parsed.positional[0]);
    const std::string text = ReadFile(path);
    try {
        ImportSettings(db, text);
    } catch (const ZelmError& error) {
        throw Refusal{path + ": " + error.what()};
    }
    return 0;
}

} // namespace

int RunSettingsCommand(const std::string& programDir, const std::vector<std::string>& args,
                       std::ostream& out, std::ostream& err) {
    const std::string prefix = std::string(ProgramName) + ": ";
    try {
        if (args.empty())
            throw UsageError{"settings needs a command (get, set, delete, list, "
                             "export, import)"};
        const std::string& command = args[0];
        if (command != "get" && command != "set" && command != "delete" && command != "list" &&
            command != "export" && command != "import")
            throw UsageError{"unknown settings command '" + command + "'"};
        const Arguments parsed = ParseArguments(command, args);

        SettingsDb db(programDir + SettingsFileName);
        int status = 0;
        if (command == "get") {
            status = Get(db, parsed, out);
        } else if (command == "set") {
            status = Set(db, parsed);
        } else if (command == "delete") {
            status = Delete(db, parsed);
        } else if (command == "list") {
            status = List(db, parsed, out);
        } else if (command == "export") {
            status = Export(db, programDir, parsed, out);
        } else {
            status = Import(db, programDir, parsed);
        }
        out.flush();
        if (!out) throw Refusal{"cannot write the output"};
        return status;
    } catch (const UsageError& error) {
        err << prefix << error.message << '\n' << UsageHint();
        return 2;
    } catch (const Refusal& refusal) {
        err << prefix << refusal.message << '\n';
        return 1;
    } catch (const ZelmError& error) {
        err << prefix << error.what() << '\n';
        return 1;
    }
}

} // namespace zelm
