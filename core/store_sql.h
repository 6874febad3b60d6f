#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "core/zelm_error.h"

// The SQLite pieces the settings store's own files share: prepared statements, transactions
// and the failure type. Not for use outside the store.
namespace zelm::store {

/// The per-user root: the one key without a parent, made with the tables.
inline constexpr std::int64_t RootKeyId = 1;

inline std::string SqliteMessage(sqlite3* db) {
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

inline void Exec(sqlite3* db, const char* sql) {
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

} // namespace zelm::store
