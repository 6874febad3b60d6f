#include "core/settings_export.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/store_sql.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"

namespace zelm {

using store::Exec;
using store::ReadTransaction;
using store::RootKeyId;
using store::Statement;
using store::StoreFailure;
using store::WriteTransaction;

std::string QuoteSettingText(const std::string& text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (byte < 0x20 || byte >= 0x7f) {
                quoted += "\\x";
                quoted += hex[byte >> 4];
                quoted += hex[byte & 0x0f];
            } else {
                quoted += c;
            }
        }
    }
    quoted += '"';
    return quoted;
}

namespace {

struct StoredValue {
    std::string name;
    bool isInteger = false;
    std::int64_t number = 0;
    std::string text;
};

std::string ValueLine(const StoredValue& value) {
    std::string line = QuoteSettingText(value.name) + " = ";
    if (value.isInteger) {
        line += "int " + std::to_string(value.number);
    } else {
        line += QuoteSettingText(value.text);
    }
    return line;
}

bool LessByName(const StoredValue& a, const StoredValue& b) {
    return LessNoCase(a.name, b.name);
}

} // namespace

std::string FormatSettingValue(ConfigStore& store, const std::string& name) {
    StoredValue value;
    value.name = name;
    if (store.GetValueType(name) == ValueType::Integer) {
        value.isInteger = true;
        value.number = store.ReadInteger(name);
    } else {
        value.text = store.ReadString(name);
    }
    return ValueLine(value);
}

std::string ExportSettings(SettingsDb& db) {
    sqlite3* handle = db.Handle();
    struct Key {
        std::string name;
        std::vector<std::int64_t> children;
        std::vector<StoredValue> values;
    };
    std::map<std::int64_t, Key> keys;
    try {
        ReadTransaction transaction(handle);
        Statement keyQuery(handle, "SELECT id, parent, name FROM keys");
        std::vector<std::pair<std::int64_t, std::int64_t>> links;
        while (keyQuery.Step()) {
            keys[keyQuery.Int(0)].name = keyQuery.Bytes(2);
            if (!keyQuery.IsNull(1)) links.emplace_back(keyQuery.Int(1), keyQuery.Int(0));
        }
        for (const auto& [parent, child] : links)
            keys[parent].children.push_back(child);
        Statement valueQuery(handle, "SELECT key, name, type, data FROM \"values\"");
        while (valueQuery.Step()) {
            StoredValue value;
            value.name = valueQuery.Bytes(1);
            value.isInteger = valueQuery.Bytes(2) == "int";
            if (value.isInteger) {
                value.number = valueQuery.Int(3);
            } else {
                value.text = valueQuery.Bytes(3);
            }
            keys[valueQuery.Int(0)].values.push_back(std::move(value));
        }
    } catch (const ZelmError&) {
        throw ZelmError("Failed to read the settings for export");
    }

    std::string text;
    auto writeBlock = [&](const std::string& path, Key& key) {
        if (!text.empty()) text += '\n';
        text += "[" + path + "]\n";
        std::sort(key.values.begin(), key.values.end(), LessByName);
        for (const auto& value : key.values)
            text += ValueLine(value) + "\n";
    };
    // Depth first with an explicit stack: a deep tree cannot exhaust the call stack.
    std::vector<std::pair<std::int64_t, std::string>> pending;
    auto pushChildren = [&](std::int64_t id, const std::string& path) {
        auto& children = keys[id].children;
        std::sort(children.begin(), children.end(), [&](std::int64_t a, std::int64_t b) {
            return LessNoCase(keys.at(a).name, keys.at(b).name);
        });
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            const std::string& name = keys.at(*it).name;
            pending.emplace_back(*it, path.empty() ? name : path + "\\" + name);
        }
    };
    // The per-user root gets a block only when something was stored on it.
    if (!keys[RootKeyId].values.empty()) writeBlock("", keys[RootKeyId]);
    pushChildren(RootKeyId, "");
    while (!pending.empty()) {
        auto [id, path] = std::move(pending.back());
        pending.pop_back();
        writeBlock(path, keys[id]);
        pushChildren(id, path);
    }
    return text;
}

namespace {

/// Reads a quoted text at pos (which must hold '"'); advances pos past the closing quote.
bool ParseQuoted(const std::string& line, std::size_t& pos, std::string& out, std::string& error) {
    if (pos >= line.size() || line[pos] != '"') {
        error = "expected a double-quoted text";
        return false;
    }
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size()) break;
        const char e = line[pos++];
        switch (e) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            if (pos + 2 > line.size()) {
                error = "\\x needs two hex digits";
                return false;
            }
            unsigned value = 0;
            const auto [end, ec] =
                std::from_chars(line.data() + pos, line.data() + pos + 2, value, 16);
            if (ec != std::errc() || end != line.data() + pos + 2) {
                error = "\\x needs two hex digits";
                return false;
            }
            out += static_cast<char>(value);
            pos += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + e;
            return false;
        }
    }
    error = "the closing double quote is missing";
    return false;
}

void SkipBlanks(const std::string& line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
}

bool IsBlankLine(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

/// Parses `"name" = "text"` or `"name" = int n`; empty error on success.
std::string ParseValueLine(const std::string& line, StoredValue& value) {
    std::size_t pos = 0;
    std::string error;
    SkipBlanks(line, pos);
    if (!ParseQuoted(line, pos, value.name, error)) return "value name: " + error;
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return "expected \"=\" after the value name";
    ++pos;
    SkipBlanks(line, pos);
    if (pos < line.size() && line[pos] == '"') {
        value.isInteger = false;
        if (!ParseQuoted(line, pos, value.text, error)) return "value: " + error;
    } else if (line.compare(pos, 3, "int") == 0) {
        pos += 3;
        const std::size_t blanks = pos;
        SkipBlanks(line, pos);
        if (pos == blanks) return "expected a blank after \"int\"";
        std::size_t end = pos;
        if (end < line.size() && (line[end] == '-' || line[end] == '+')) ++end;
        while (end < line.size() && line[end] >= '0' && line[end] <= '9')
            ++end;
        const char* first = line.data() + pos + (line[pos] == '+' ? 1 : 0);
        std::int32_t number = 0;
        const auto [stop, ec] = std::from_chars(first, line.data() + end, number);
        if (ec == std::errc::result_out_of_range) return "the number is out of the 32-bit range";
        if (ec != std::errc() || stop != line.data() + end || end == pos)
            return "expected a decimal number after \"int\"";
        value.isInteger = true;
        value.number = number;
        pos = end;
    } else {
        return "expected a double-quoted text or \"int\" after \"=\"";
    }
    SkipBlanks(line, pos);
    if (pos != line.size()) return "unexpected text after the value";
    return {};
}

} // namespace

void ImportSettings(SettingsDb& db, const std::string& text) {
    sqlite3* handle = db.Handle();
    int lineNumber = 0;
    auto fail = [&](const std::string& reason) {
        throw ZelmError("line " + std::to_string(lineNumber) + ": " + reason);
    };

    std::optional<WriteTransaction> transaction;
    try {
        transaction.emplace(handle);
        Exec(handle, "DELETE FROM keys WHERE id <> 1; DELETE FROM \"values\" WHERE key = 1");
    } catch (const StoreFailure& failure) {
        throw ZelmError(std::string("Failed to replace the settings: ") + failure.what());
    }

    ConfigStore store(db);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        // A file that passed through a CR LF editor reads the same.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (IsBlankLine(line)) continue;

        if (line.front() == '[') {
            if (line.back() != ']') fail("a key line must end with \"]\"");
            const std::string path = line.substr(1, line.size() - 2);
            try {
                store.OpenKey(path, true);
            } catch (const ZelmError& error) {
                fail(error.what());
            }
            continue;
        }
        if (!store.HasOpenKey()) fail("a value line before the first [key] line");
        StoredValue value;
        const std::string error = ParseValueLine(line, value);
        if (!error.empty()) fail(error);
        try {
            if (value.isInteger) {
                store.WriteInteger(value.name, static_cast<std::int32_t>(value.number));
            } else {
                store.WriteString(value.name, value.text);
            }
        } catch (const ZelmError& writeError) {
            fail(writeError.what());
        }
    }
    try {
        transaction->Commit();
    } catch (const StoreFailure& failure) {
        throw ZelmError(std::string("Failed to replace the settings: ") + failure.what());
    }
}

} // namespace zelm
