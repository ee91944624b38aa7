#pragma once
// The small pieces of libpq every use of a line's server takes: a result that is
// cleared on every path, and the server's one transaction guard; every
// statement is bounded (history/server/PostgresRoundTrip.h).
#include <libpq-fe.h>

#include <optional>
#include <string>

#include "history/server/PostgresRoundTrip.h"

namespace velmora::history {

class PostgresResult {
public:
    explicit PostgresResult(PGresult* result) : result_(result) {}
    ~PostgresResult() { PQclear(result_); }
    PostgresResult(const PostgresResult&) = delete;
    PostgresResult& operator=(const PostgresResult&) = delete;

    bool is(ExecStatusType status) const { return result_ != nullptr && PQresultStatus(result_) == status; }
    int rows() const { return PQntuples(result_); }
    int columns() const { return PQnfields(result_); }
    std::string text(int row, int column) const {
        return PQgetisnull(result_, row, column) ? std::string{} : PQgetvalue(result_, row, column);
    }

    // The server's SQLSTATE for a failed statement ("40P01"); empty when it gave none.
    std::string state() const {
        const char* state = result_ == nullptr ? nullptr : PQresultErrorField(result_, PG_DIAG_SQLSTATE);
        return state == nullptr ? std::string{} : state;
    }

    std::optional<std::string> optionalText(int row, int column) const {
        if (PQgetisnull(result_, row, column)) return std::nullopt;
        return std::string(PQgetvalue(result_, row, column));
    }

private:
    PGresult* result_;
};

// A transaction on the server, rolled back on every path that does not commit.
class PostgresTransaction {
public:
    explicit PostgresTransaction(pg_conn* connection) : connection_(connection) {}
    ~PostgresTransaction() {
        if (open_) PostgresResult(execBounded(connection_, "ROLLBACK;"));
    }
    PostgresTransaction(const PostgresTransaction&) = delete;
    PostgresTransaction& operator=(const PostgresTransaction&) = delete;

    bool begin(const char* sql = "BEGIN;") {
        return open_ = PostgresResult(execBounded(connection_, sql)).is(PGRES_COMMAND_OK);
    }
    bool commit() {
        open_ = false;
        return PostgresResult(execBounded(connection_, "COMMIT;")).is(PGRES_COMMAND_OK);
    }

private:
    pg_conn* connection_;
    bool open_ = false;
};

}  // namespace velmora::history
