#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

// The hierarchical settings store: keys addressed by backslash paths below the per-user root,
// string and 32-bit integer values, names compared without regard to case. Kept in an SQLite
// database (settings.db in the home folder); every write is its own transaction.
namespace zelm {

/// The settings root below the per-user root.
inline constexpr const char* SettingsRoot = "Software\\Tarvo Software\\Zelm";
/// The store's file in the home folder.
inline constexpr const char* SettingsFileName = "settings.db";
/// How long a write waits for another program's write to end before it fails.
inline constexpr int DefaultBusyTimeoutMs = 5000;

/// One open settings database. Handles (`ConfigStore`) and path operations work on it.
class SettingsDb {
public:
    /// Opens or creates the database file (mode 0600); throws ZelmError when it cannot, or when
    /// the file is not a settings database (such a file is left untouched).
    explicit SettingsDb(const std::string& path, int busyTimeoutMs = DefaultBusyTimeoutMs);
    ~SettingsDb();
    SettingsDb(const SettingsDb&) = delete;
    SettingsDb& operator=(const SettingsDb&) = delete;

    /// The underlying connection, for the store's own operations.
    sqlite3* Handle() const { return m_db; }
    /// Grows with every value or key this connection writes or removes, so a reader can keep
    /// what it read until the number moves (the window and a session share one connection).
    std::int64_t ChangeCount() const;

private:
    sqlite3* m_db = nullptr;
};

/// The kind of a stored value.
enum class ValueType { Absent, String, Integer };

/// A store handle: addresses one key at a time.
class ConfigStore {
public:
    explicit ConfigStore(SettingsDb& db);

    /// Opens the key at path (parts joined by a backslash or "/"); with create, missing keys on the
    /// path are created, and a refused mailbox or filter name, or a store failure, throws
    /// ZelmError.
    bool OpenKey(const std::string& path, bool create);
    /// Ends the use of the open key; does nothing when none is open.
    void CloseKey();
    /// The open key holds a value of that name, of any type.
    bool ValueExists(const std::string& name);
    /// An absent value reads as ""; a non-string value is a data-type error.
    std::string ReadString(const std::string& name);
    /// An absent value is a read error; a non-integer value is a data-type error.
    std::int32_t ReadInteger(const std::string& name);
    /// The integer read is not 0.
    bool ReadBool(const std::string& name);
    /// Creates or replaces a string value.
    void WriteString(const std::string& name, const std::string& text);
    /// Creates or replaces an integer value.
    void WriteInteger(const std::string& name, std::int32_t number);
    /// Writes the integer 0 or 1.
    void WriteBool(const std::string& name, bool flag);
    /// Fills names with the open key's subkey names (cleared first; no order promised).
    void GetKeyNames(std::vector<std::string>& names);
    /// Deletes the named subkey with everything below it.
    bool DeleteKey(const std::string& name);
    /// Deletes one value of the open key.
    bool DeleteValue(const std::string& name);

    /// A key is open.
    bool HasOpenKey() const { return m_key >= 0; }
    /// Fills names with the open key's value names as stored (cleared first; no order promised).
    void GetValueNames(std::vector<std::string>& names);
    /// The type of the named value of the open key, Absent when there is none.
    ValueType GetValueType(const std::string& name);

private:
    SettingsDb& m_db;
    std::int64_t m_key = -1;
};

/// Opens the key (create), writes the string, closes.
void WriteRegString(SettingsDb& db, const std::string& keyPath, const std::string& name,
                    const std::string& text);
/// Opens the key (create), writes the flag, closes.
void WriteRegBool(SettingsDb& db, const std::string& keyPath, const std::string& name, bool flag);
/// The string value, "" when absent, defaultText when the key does not exist.
std::string ReadRegString(SettingsDb& db, const std::string& keyPath, const std::string& name,
                          const std::string& defaultText);

/// Inverts the highest bit of every byte; ends before the first byte that maps to 0.
std::string ScramblePassword(const std::string& text);
/// The same mapping as ScramblePassword.
std::string UnscramblePassword(const std::string& text);

/// Mailbox key path: SettingsRoot\Mailboxes\name.
std::string MailboxKeyPath(const std::string& mailbox);
/// Filter key path: mailbox key path\Filters\filter.
std::string FilterKeyPath(const std::string& mailbox, const std::string& filter);

/// Values shown on the mailbox page when a new mailbox is created from it.
struct NewMailboxValues {
    bool enabled = true;
    std::string cache;
    std::string host;
    std::string smtpHost;
};
/// Creates a mailbox key with its initial values.
void CreateMailbox(SettingsDb& db, const std::string& name, const NewMailboxValues& shown);
/// Deletes a mailbox with all its filters.
bool DeleteMailbox(SettingsDb& db, const std::string& name);
/// Creates a filter key with an empty rule list.
void CreateFilter(SettingsDb& db, const std::string& mailbox, const std::string& filter);
/// Deletes a filter; its name stays in any Operation list.
bool DeleteFilter(SettingsDb& db, const std::string& mailbox, const std::string& filter);

/// Enters (enable) or removes the program in the user's session start-up list; commandLine is
/// the program file's path. Failures are silent.
void SetRunAtStartup(const std::string& valueName, const std::string& commandLine, bool enable);
/// As SetRunAtStartup, for a program started with arguments (the first element is the program).
void SetRunAtStartup(const std::string& valueName, const std::vector<std::string>& arguments,
                     bool enable);
/// The MIME content type for a file name's extension; "application/octet-stream" when unknown.
std::string LookupContentType(const std::string& fileName);
/// As LookupContentType, with the system table read from mimeTypesPath.
std::string LookupContentTypeIn(const std::string& fileName, const std::string& mimeTypesPath);

} // namespace zelm
