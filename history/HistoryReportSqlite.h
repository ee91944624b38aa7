#pragma once
// The station file's side of the report (history/HistoryReport.h: reportFrom):
// its statements run on the file's connection, and the two pieces of PostgreSQL
// they use, so that both stores run the very same SQL.
#include <string>

#include "history/HistoryReport.h"

struct sqlite3;

namespace velmora::history {

// Adds to the connection what the report's SQL takes from PostgreSQL:
// translate(text, from, to) (each character of from found in text becomes the
// one at its place in to, or goes when to is shorter; ASCII from and to only),
// and the collation "C" (bytes as they are).
bool addReportFunctions(sqlite3* handle, std::string& error);

// The report's statements on handle, whose caller holds the connection and a
// read transaction (one snapshot for all of them).
class SqliteReportSource final : public ReportSource {
public:
    explicit SqliteReportSource(sqlite3* handle) : handle_(handle) {}
    ReportTables tables() const override { return kFileReportTables; }
    // The connection's own translate(): one pass over the log rather than nine.
    std::string phaseShape() const override { return "translate(phases, '0123456789', '0000000000')"; }
    bool query(const std::string& sql, const std::vector<std::string>& parameters,
               const std::function<void(const ReportRow&)>& row, std::string& error) override;

private:
    sqlite3* handle_;
};

}  // namespace velmora::history
