#include "core/config_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

#include "core/name_rules.h"
#include "core/program_info.h"
#include "core/schema.h"
#include "core/settings_export.h"
#include "core/store_sql.h"
#include "core/zelm_error.h"

namespace zelm {
namespace {

using store::Exec;
using store::RootKeyId;
using store::SqliteMessage;
using store::Statement;
using store::StoreFailure;
using store::WriteTransaction;

constexpr int SchemaVersion = 1;

// The on-disk layout. Names compare with NOCASE, which folds only A to Z, as the store's
// names must; data is a BLOB so every byte of a string comes back as it was written.
constexpr const char* CreateSchemaSql =
    "CREATE TABLE keys ("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE (parent, name));"
    "CREATE TABLE \"values\" ("
    " key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type TEXT NOT NULL CHECK (type IN ('string', 'int')),"
    " data BLOB,"
    " PRIMARY KEY (key, name));"
    "INSERT INTO keys (id, parent, name) VALUES (1, NULL, '');"
    "PRAGMA user_version = 1;";

std::string FailedToGet(const std::string& name) {
    return "Failed to get data for '" + name + "'";
}
std::string FailedToSet(const std::string& name) {
    return "Failed to set data for '" + name + "'";
}
std::string InvalidType(const std::string& name) {
    return "Invalid data type for '" + name + "'";
}

std::string JoinPath(const std::vector<std::string>& parts) {
    std::string path;
    for (const auto& part : parts) {
        if (!path.empty()) path += '\\';
        path += part;
    }
    return path;
}

} // namespace

// ---- SettingsDb ----

SettingsDb::SettingsDb(const std::string& path, int busyTimeoutMs) {
    // Create the file ourselves so it is private from its first byte; SQLite gives its -wal
    // and -shm files the database file's mode.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno != EEXIST) {
        throw ZelmError("Cannot create the settings database '" + path + "'");
    }

    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const std::string message = m_db != nullptr ? SqliteMessage(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw ZelmError("Cannot open the settings database '" + path + "': " + message);
    }
    try {
        sqlite3_busy_timeout(m_db, busyTimeoutMs);
        sqlite3_extended_result_codes(m_db, 1);

        // The first read proves the file is an SQLite database before anything is written.
        std::int64_t version = 0;
        {
            Statement query(m_db, "PRAGMA user_version");
            if (query.Step()) version = query.Int(0);
        }
        if (version > SchemaVersion)
            throw ZelmError("it was written by a newer version of " + std::string(ProgramName));

        // A database with tables but without our version is another program's: leave it be.
        auto isForeign = [this] {
            Statement tables(m_db, "SELECT count(*) FROM sqlite_master");
            return tables.Step() && tables.Int(0) != 0;
        };
        if (version == 0 && isForeign()) throw ZelmError("it is another program's database");

        // WAL lets the command line change settings while the window reads them, and a commit
        // costs one append. With synchronous NORMAL a committed value survives a crash of the
        // process; only a power loss may take back the last commits, never half of one.
        {
            Statement mode(m_db, "PRAGMA journal_mode = WAL");
            mode.Run();
        }
        Exec(m_db, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");

        if (version == 0) {
            WriteTransaction transaction(m_db);
            // Another program may have made the tables since the first look.
            Statement current(m_db, "PRAGMA user_version");
            if (current.Step() && current.Int(0) == 0) {
                if (isForeign()) throw ZelmError("it is another program's database");
                Exec(m_db, CreateSchemaSql);
            }
            transaction.Commit();
        }
    } catch (const ZelmError& error) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw ZelmError("Cannot use the settings database '" + path + "': " + error.what());
    }
}

std::int64_t SettingsDb::ChangeCount() const {
    return sqlite3_total_changes64(m_db);
}

SettingsDb::~SettingsDb() {
    sqlite3_close(m_db);
}

// ---- ConfigStore ----

ConfigStore::ConfigStore(SettingsDb& db) : m_db(db) {}

bool ConfigStore::OpenKey(const std::string& path, bool create) {
    m_key = -1;
    sqlite3* db = m_db.Handle();
    const std::vector<std::string> parts = SplitKeyPath(path);
    try {
        Statement find(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
        // Walks the path as far as it exists; returns the number of parts found.
        auto walk = [&](std::int64_t& key) {
            key = RootKeyId;
            std::size_t found = 0;
            for (; found < parts.size(); ++found) {
                find.Reset();
                find.Bind(1, key);
                find.BindText(2, parts[found]);
                if (!find.Step()) break;
                key = find.Int(0);
            }
            find.Reset();
            return found;
        };

        std::int64_t key = RootKeyId;
        std::size_t found = walk(key);
        if (found == parts.size()) {
            m_key = key;
            return true;
        }
        if (!create) return false;

        for (std::size_t i = found; i < parts.size(); ++i) {
            const std::string problem = KeyNameProblem(parts, i);
            if (!problem.empty()) throw ZelmError(problem);
        }

        WriteTransaction transaction(db);
        // Another program may have created part of the path since the walk above.
        found = walk(key);
        for (std::size_t i = found; i < parts.size(); ++i) {
            Statement insert(db, "INSERT INTO keys (parent, name) VALUES (?1, ?2)");
            insert.Bind(1, key);
            insert.BindText(2, parts[i]);
            insert.Run();
            key = sqlite3_last_insert_rowid(db);
        }
        transaction.Commit();
        m_key = key;
        return true;
    } catch (const StoreFailure& failure) {
        throw ZelmError("Failed to open key '" + JoinPath(parts) + "': " + failure.what());
    }
}

void ConfigStore::CloseKey() {
    m_key = -1;
}

ValueType ConfigStore::GetValueType(const std::string& name) {
    if (m_key < 0) throw ZelmError(FailedToGet(name));
    try {
        Statement query(m_db.Handle(), "SELECT type FROM \"values\" WHERE key = ?1 AND name = ?2");
        query.Bind(1, m_key);
        query.BindText(2, name);
        if (!query.Step()) return ValueType::Absent;
        return query.Bytes(0) == "int" ? ValueType::Integer : ValueType::String;
    } catch (const ZelmError&) {
        throw ZelmError(FailedToGet(name));
    }
}

bool ConfigStore::ValueExists(const std::string& name) {
    return GetValueType(name) != ValueType::Absent;
}

std::string ConfigStore::ReadString(const std::string& name) {
    if (m_key < 0) throw ZelmError(FailedToGet(name));
    std::string type;
    std::string data;
    try {
        Statement query(m_db.Handle(),
                        "SELECT type, data FROM \"values\" WHERE key = ?1 AND name = ?2");
        query.Bind(1, m_key);
        query.BindText(2, name);
        if (!query.Step()) return {};
        type = query.Bytes(0);
        data = query.Bytes(1);
    } catch (const ZelmError&) {
        throw ZelmError(FailedToGet(name));
    }
    if (type != "string") throw ZelmError(InvalidType(name));
    return data;
}

std::int32_t ConfigStore::ReadInteger(const std::string& name) {
    if (m_key < 0) throw ZelmError(FailedToGet(name));
    std::string type;
    std::int64_t number = 0;
    try {
        Statement query(m_db.Handle(),
                        "SELECT type, data FROM \"values\" WHERE key = ?1 AND name = ?2");
        query.Bind(1, m_key);
        query.BindText(2, name);
        if (!query.Step()) throw ZelmError(FailedToGet(name));
        type = query.Bytes(0);
        number = query.Int(1);
    } catch (const ZelmError&) {
        throw ZelmError(FailedToGet(name));
    }
    if (type != "int") throw ZelmError(InvalidType(name));
    return static_cast<std::int32_t>(number);
}

bool ConfigStore::ReadBool(const std::string& name) {
    return ReadInteger(name) != 0;
}

void ConfigStore::WriteString(const std::string& name, const std::string& text) {
    if (m_key < 0) throw ZelmError(FailedToSet(name));
    try {
        // The upsert keeps the name as first written, as the key names do.
        Statement write(
            m_db.Handle(),
            "INSERT INTO \"values\" (key, name, type, data) VALUES (?1, ?2, 'string', ?3)"
            " ON CONFLICT (key, name) DO UPDATE SET type = excluded.type,"
            " data = excluded.data");
        write.Bind(1, m_key);
        write.BindText(2, name);
        write.BindBlob(3, text);
        write.Run();
    } catch (const ZelmError&) {
        throw ZelmError(FailedToSet(name));
    }
}

void ConfigStore::WriteInteger(const std::string& name, std::int32_t number) {
    if (m_key < 0) throw ZelmError(FailedToSet(name));
    try {
        Statement write(m_db.Handle(),
                        "INSERT INTO \"values\" (key, name, type, data) VALUES (?1, ?2, 'int', ?3)"
                        " ON CONFLICT (key, name) DO UPDATE SET type = excluded.type,"
                        " data = excluded.data");
        write.Bind(1, m_key);
        write.BindText(2, name);
        write.Bind(3, number);
        write.Run();
    } catch (const ZelmError&) {
        throw ZelmError(FailedToSet(name));
    }
}

void ConfigStore::WriteBool(const std::string& name, bool flag) {
    WriteInteger(name, flag ? 1 : 0);
}

void ConfigStore::GetKeyNames(std::vector<std::string>& names) {
    names.clear();
    if (m_key < 0) return;
    try {
        Statement query(m_db.Handle(), "SELECT name FROM keys WHERE parent = ?1");
        query.Bind(1, m_key);
        while (query.Step())
            names.push_back(query.Bytes(0));
    } catch (const ZelmError&) {
        throw ZelmError("Failed to read the subkeys");
    }
}

void ConfigStore::GetValueNames(std::vector<std::string>& names) {
    names.clear();
    if (m_key < 0) return;
    try {
        Statement query(m_db.Handle(), "SELECT name FROM \"values\" WHERE key = ?1");
        query.Bind(1, m_key);
        while (query.Step())
            names.push_back(query.Bytes(0));
    } catch (const ZelmError&) {
        throw ZelmError("Failed to read the value names");
    }
}

bool ConfigStore::DeleteKey(const std::string& name) {
    if (m_key < 0) return false;
    sqlite3* db = m_db.Handle();
    try {
        // The foreign keys cascade: the subkey's values and everything below go with it.
        Statement erase(db, "DELETE FROM keys WHERE parent = ?1 AND name = ?2");
        erase.Bind(1, m_key);
        erase.BindText(2, name);
        erase.Run();
        return sqlite3_changes(db) > 0;
    } catch (const ZelmError&) {
        throw ZelmError("Failed to delete key '" + name + "'");
    }
}

bool ConfigStore::DeleteValue(const std::string& name) {
    if (m_key < 0) return false;
    sqlite3* db = m_db.Handle();
    try {
        Statement erase(db, "DELETE FROM \"values\" WHERE key = ?1 AND name = ?2");
        erase.Bind(1, m_key);
        erase.BindText(2, name);
        erase.Run();
        return sqlite3_changes(db) > 0;
    } catch (const ZelmError&) {
        throw ZelmError("Failed to delete value '" + name + "'");
    }
}

// ---- Path operations ----

void WriteRegString(SettingsDb& db, const std::string& keyPath, const std::string& name,
                    const std::string& text) {
    ConfigStore store(db);
    store.OpenKey(keyPath, true);
    store.WriteString(name, text);
    store.CloseKey();
}

void WriteRegBool(SettingsDb& db, const std::string& keyPath, const std::string& name, bool flag) {
    ConfigStore store(db);
    store.OpenKey(keyPath, true);
    store.WriteBool(name, flag);
    store.CloseKey();
}

std::string ReadRegString(SettingsDb& db, const std::string& keyPath, const std::string& name,
                          const std::string& defaultText) {
    ConfigStore store(db);
    if (!store.OpenKey(keyPath, false)) return defaultText;
    std::string text = store.ReadString(name);
    store.CloseKey();
    return text;
}

// ---- Passwords ----

std::string ScramblePassword(const std::string& text) {
    // The stored form is a NUL-terminated text: a byte 128 maps to 0 and ends it.
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto mapped = static_cast<unsigned char>(static_cast<unsigned char>(c) ^ 0x80u);
        if (mapped == 0) break;
        result += static_cast<char>(mapped);
    }
    return result;
}

std::string UnscramblePassword(const std::string& text) {
    return ScramblePassword(text);
}

// ---- Mailboxes and filters ----

std::string MailboxKeyPath(const std::string& mailbox) {
    return std::string(SettingsRoot) + "\\" + schema::MailboxesKey + "\\" + mailbox;
}

std::string FilterKeyPath(const std::string& mailbox, const std::string& filter) {
    return MailboxKeyPath(mailbox) + "\\" + schema::FiltersKey + "\\" + filter;
}

void CreateMailbox(SettingsDb& db, const std::string& name, const NewMailboxValues& shown) {
    const std::string refusal = MailboxNameRefusal(name);
    if (!refusal.empty()) throw ZelmError(refusal);
    ConfigStore store(db);
    store.OpenKey(MailboxKeyPath(name), true);
    store.WriteBool(schema::MailboxEnabled, shown.enabled);
    store.WriteString(schema::Cache, shown.cache);
    store.WriteString(schema::Host, shown.host);
    store.WriteString(schema::UserID, "");
    store.WriteString(schema::Password, "");
    store.WriteString(schema::Port, schema::NewMailboxPort);
    store.WriteString(schema::SMTPHost, shown.smtpHost);
    store.WriteString(schema::SMTPPort, schema::NewMailboxSMTPPort);
    store.WriteString(schema::SMTPFrom, "");
    store.CloseKey();
}

bool DeleteMailbox(SettingsDb& db, const std::string& name) {
    ConfigStore store(db);
    if (!store.OpenKey(std::string(SettingsRoot) + "\\" + schema::MailboxesKey, false))
        return false;
    return store.DeleteKey(name);
}

void CreateFilter(SettingsDb& db, const std::string& mailbox, const std::string& filter) {
    // The names are joined into one path, so a separator in either would address other keys.
    std::string problem = CommonNameProblem(mailbox);
    if (!problem.empty())
        throw ZelmError("The mailbox name " + QuoteSettingText(mailbox) +
                        " is refused: " + problem + ".");
    problem = FilterNameRefusal(filter);
    if (!problem.empty()) throw ZelmError(problem);
    WriteRegString(db, FilterKeyPath(mailbox, filter), schema::Rules, "");
}

bool DeleteFilter(SettingsDb& db, const std::string& mailbox, const std::string& filter) {
    // A mailbox name that is not one key name would create stray keys on the way.
    if (!CommonNameProblem(mailbox).empty()) return false;
    ConfigStore store(db);
    store.OpenKey(MailboxKeyPath(mailbox) + "\\" + schema::FiltersKey, true);
    return store.DeleteKey(filter);
}

} // namespace zelm
