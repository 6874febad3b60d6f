#include "core/config_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <optional>
#include <utility>

#include "core/program_info.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "core/zelm_error.h"

namespace zelm {
namespace {

// The per-user root: the one key without a parent, made with the tables.
constexpr std::int64_t RootKeyId = 1;
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

std::string SqliteMessage(sqlite3* db) {
    return sqlite3_errmsg(db);
}

/// A failure reported by SQLite; each public operation turns it into its own message.
class StoreFailure : public ZelmError {
public:
    using ZelmError::ZelmError;
};

/// One prepared statement, finalized with its owner.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            const std::string message = SqliteMessage(db);
            sqlite3_finalize(m_stmt);
            throw StoreFailure(message);
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// Makes the statement ready to run again with new bindings.
    void Reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    void Bind(int index, std::int64_t number) { Check(sqlite3_bind_int64(m_stmt, index, number)); }
    void BindText(int index, const std::string& text) {
        Check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
    }
    void BindBlob(int index, const std::string& bytes) {
        // A zero-length blob must still be a blob, not NULL: bind through zeroblob.
        if (bytes.empty()) {
            Check(sqlite3_bind_zeroblob(m_stmt, index, 0));
        } else {
            Check(sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                    SQLITE_TRANSIENT));
        }
    }

    /// True for a row, false when done; throws on any failure.
    bool Step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw StoreFailure(SqliteMessage(m_db));
    }
    void Run() {
        while (Step()) {
        }
    }

    std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string Bytes(int column) const {
        const void* data = sqlite3_column_blob(m_stmt, column);
        const int size = sqlite3_column_bytes(m_stmt, column);
        if (data == nullptr || size <= 0) return {};
        return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
    }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) throw StoreFailure(SqliteMessage(m_db));
    }

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

void Exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error != nullptr ? error : SqliteMessage(db);
        sqlite3_free(error);
        throw StoreFailure(message);
    }
}

/// A write transaction that rolls back unless committed. Inside another transaction it is a
/// savepoint, so an import can wrap many store operations into one.
class WriteTransaction {
public:
    explicit WriteTransaction(sqlite3* db) : m_db(db), m_outer(sqlite3_get_autocommit(db) != 0) {
        // IMMEDIATE takes the write lock at once, so a second writer waits in the busy
        // handler instead of failing later on a lock upgrade.
        Exec(m_db, m_outer ? "BEGIN IMMEDIATE" : "SAVEPOINT zelm_write");
    }
    ~WriteTransaction() {
        if (m_done) return;
        // A destructor must never throw: when the rollback itself fails, SQLite undoes the
        // unfinished transaction on the next open.
        sqlite3_exec(m_db, m_outer ? "ROLLBACK" : "ROLLBACK TO zelm_write; RELEASE zelm_write",
                     nullptr, nullptr, nullptr);
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    void Commit() {
        Exec(m_db, m_outer ? "COMMIT" : "RELEASE zelm_write");
        m_done = true;
    }

private:
    sqlite3* m_db;
    bool m_outer;
    bool m_done = false;
};

/// A read transaction, so a walk over several statements sees one state of the store.
class ReadTransaction {
public:
    explicit ReadTransaction(sqlite3* db) : m_db(db), m_outer(sqlite3_get_autocommit(db) != 0) {
        if (m_outer) Exec(m_db, "BEGIN");
    }
    ~ReadTransaction() {
        if (m_outer) sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

private:
    sqlite3* m_db;
    bool m_outer;
};

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

bool HasControlCharacter(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

// What every mailbox and filter name must pass: it is a single key name, and a mailbox name
// is also a file and a folder name in the home folder.
std::string CommonNameProblem(const std::string& name) {
    if (name.empty()) return "the name is empty";
    if (name.find_first_of("/\\") != std::string::npos)
        return "the name must not hold \"/\" or \"\\\"";
    if (name == "." || name == "..") return "the name must not be \".\" or \"..\"";
    if (HasControlCharacter(name)) return "the name must not hold control characters";
    return {};
}

bool IsTemplateName(const std::string& lowerName) {
    return lowerName.size() == 6 && (lowerName[0] == 'm' || lowerName[0] == 'd') &&
           std::all_of(lowerName.begin() + 1, lowerName.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool IsProgramFileName(const std::string& lowerName) {
    // The files and folders the program itself keeps in the home folder. A mailbox named like
    // one of them would have its data file or outbox folder land on it.
    static constexpr const char* fixedNames[] = {
        "settings.db", "settings.db-wal", "settings.db-shm", "settings.db-journal", "zelm.lock",
        "error.log",   "zelm.dat",        "zelm$$$$.$$$",    "zelmb$$$.$$$",
    };
    for (const char* fixed : fixedNames) {
        if (lowerName == fixed) return true;
    }
    static constexpr const char* weekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    for (const char* day : weekdays) {
        const std::string log = std::string(day) + ".log";
        if (lowerName == log || lowerName == log + ".old") return true;
    }
    return false;
}

// Leaves room for ".dat" within the file system's 255-byte name limit.
constexpr std::size_t MaxMailboxNameLength = 250;

bool PathEquals(const std::vector<std::string>& parts, std::size_t count,
                const std::vector<std::string>& expected) {
    if (count != expected.size()) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!EqualsNoCase(parts[i], expected[i])) return false;
    }
    return true;
}

// The problem with creating parts[index] below parts[0..index), empty when there is none.
// Mailbox and filter keys get their own checks; every key name is refused control characters,
// so the export's [key] lines always read back.
std::string KeyNameProblem(const std::vector<std::string>& parts, std::size_t index) {
    static const std::vector<std::string> mailboxesPath = [] {
        auto path = SplitKeyPath(SettingsRoot);
        path.push_back(schema::MailboxesKey);
        return path;
    }();
    const std::string& name = parts[index];
    if (PathEquals(parts, index, mailboxesPath)) {
        const std::string problem = MailboxNameProblem(name);
        if (!problem.empty())
            return "The mailbox name " + QuoteSettingText(name) + " is refused: " + problem + ".";
        return {};
    }
    if (index == mailboxesPath.size() + 2 &&
        PathEquals(parts, mailboxesPath.size(), mailboxesPath) &&
        EqualsNoCase(parts[index - 1], schema::FiltersKey)) {
        return FilterNameRefusal(name);
    }
    if (HasControlCharacter(name))
        return "The key name " + QuoteSettingText(name) +
               " is refused: it holds control characters.";
    return {};
}

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

std::string MailboxNameProblem(const std::string& name) {
    std::string problem = CommonNameProblem(name);
    if (!problem.empty()) return problem;
    if (name.size() > MaxMailboxNameLength) return "the name is longer than 250 bytes";
    const std::string lower = LowerAscii(name);
    // The data file is name + ".dat" and the outbox folder is name itself; neither may take
    // the place of a template, "zelm.dat", a log or the store, nor of another mailbox's data
    // file (which a name ending in ".dat" would).
    if (lower == "zelm" || IsTemplateName(lower) || IsProgramFileName(lower) ||
        (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".dat") == 0))
        return "the name is kept for the program's own files";
    return {};
}

std::string FilterNameProblem(const std::string& name) {
    return CommonNameProblem(name);
}

std::string FilterNameRefusal(const std::string& name) {
    const std::string problem = FilterNameProblem(name);
    if (problem.empty()) return {};
    return "The filter name " + QuoteSettingText(name) + " is refused: " + problem + ".";
}

void CreateMailbox(SettingsDb& db, const std::string& name, const NewMailboxValues& shown) {
    const std::string problem = MailboxNameProblem(name);
    if (!problem.empty())
        throw ZelmError("The mailbox name " + QuoteSettingText(name) + " is refused: " + problem +
                        ".");
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

// ---- Export and import ----

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
