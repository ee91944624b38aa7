// The small pieces of SQLite every use of the station's file takes: a prepared
// statement that is finalised on every path, a plain statement run at once, and
// the file's one transaction guard.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::history {

class SqliteStatement {
public:
    // A statement that fails to prepare is kept as null: ready() says why, and
    // every step of it fails with SQLite's reason.
    SqliteStatement(sqlite3* handle, const std::string& sql) : handle_(handle) {
        if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
            statement_ = nullptr;
    }
    ~SqliteStatement() { sqlite3_finalize(statement_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool ready(std::string& error) const {
        if (statement_ == nullptr) error = sqlite3_errmsg(handle_);
        return statement_ != nullptr;
    }
    SqliteStatement& bind(int position, const std::string& text) {
        sqlite3_bind_text(statement_, position, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // NULL for none.
    SqliteStatement& bindOptional(int position, const std::optional<std::string>& text) {
        if (text) return bind(position, *text);
        sqlite3_bind_null(statement_, position);
        return *this;
    }
    SqliteStatement& bind(int position, std::int64_t value) {
        sqlite3_bind_int64(statement_, position, value);
        return *this;
    }
    // The position of a named parameter ("$1"), 0 when the statement has none of that name.
    int position(const std::string& name) const {
        return sqlite3_bind_parameter_index(statement_, name.c_str());
    }
    int columns() const { return sqlite3_column_count(statement_); }
    void reset() { sqlite3_reset(statement_); }
    // SQLITE_ROW, SQLITE_DONE or an error; error is set for the latter.
    int step(std::string& error) {
        const int status = statement_ == nullptr ? SQLITE_ERROR : sqlite3_step(statement_);
        if (status != SQLITE_ROW && status != SQLITE_DONE) error = sqlite3_errmsg(handle_);
        return status;
    }
    // A statement that returns no rows, run to its end.
    bool run(std::string& error) { return step(error) == SQLITE_DONE; }
    std::string text(int column) const {
        const unsigned char* value = sqlite3_column_text(statement_, column);
        return value == nullptr ? std::string{} : reinterpret_cast<const char*>(value);
    }
    std::optional<std::string> optionalText(int column) const {
        if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
        return text(column);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3* handle_;
    sqlite3_stmt* statement_ = nullptr;
};

inline bool sqliteExecute(sqlite3* handle, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(handle, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(handle);
    sqlite3_free(message);
    return false;
}

// A write transaction on the station's file, rolled back on every path that does
// not commit. IMMEDIATE: the write lock from the start, so two writers (stations,
// runs, the sender) take turns instead of one failing at its first write.
class SqliteTransaction {
public:
    explicit SqliteTransaction(sqlite3* handle) : handle_(handle) {}
    ~SqliteTransaction() {
        std::string ignored;
        if (open_) sqliteExecute(handle_, "ROLLBACK;", ignored);
    }
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    bool begin(std::string& error) { return open_ = sqliteExecute(handle_, "BEGIN IMMEDIATE;", error); }
    bool commit(std::string& error) {
        if (!sqliteExecute(handle_, "COMMIT;", error)) return false;
        open_ = false;
        return true;
    }

private:
    sqlite3* handle_;
    bool open_ = false;
};

}  // namespace velmora::history
