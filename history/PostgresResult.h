#pragma once
// A libpq result that is cleared on every path.
#include <libpq-fe.h>

#include <string>

namespace velmora::history {

class PostgresResult {
public:
    explicit PostgresResult(PGresult* result) : result_(result) {}
    ~PostgresResult() { PQclear(result_); }
    PostgresResult(const PostgresResult&) = delete;
    PostgresResult& operator=(const PostgresResult&) = delete;

    bool is(ExecStatusType status) const { return result_ != nullptr && PQresultStatus(result_) == status; }
    int rows() const { return PQntuples(result_); }
    std::string text(int row, int column) const {
        return PQgetisnull(result_, row, column) ? std::string{} : PQgetvalue(result_, row, column);
    }

private:
    PGresult* result_;
};

}  // namespace velmora::history
