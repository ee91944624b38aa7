#include "history/PostgresHistory.h"

#include <libpq-fe.h>

#include <array>

#include "app/TextAppend.h"
#include "history/HistoryColumns.h"
#include "history/HistoryLocation.h"
#include "history/IsoTime.h"
#include "history/PostgresResult.h"
#include "history/RunUuid.h"
#include "history/SerialTables.h"

namespace velmora::history {
namespace {

// Taken by every layout change, held until its transaction ends: "velmora" in ASCII.
constexpr long long kLayoutLockKey = 0x76656c6d6f7261;

struct LayoutUpgrade {
    int version;  // the layout this step leads to
    const char* sql;
};

// One step per version; later layouts add theirs at the end. The columns are the
// station file's, with the run UUID as the key and the time the server took the
// row's latest write.
constexpr std::array<LayoutUpgrade, 3> kUpgrades = {{
    {1,
     "CREATE TABLE velmora_runs ("
     " id bigint GENERATED ALWAYS AS IDENTITY UNIQUE,"
     " run_uuid uuid PRIMARY KEY,"
     " operation text NOT NULL, started text NOT NULL, ended text NOT NULL DEFAULT '',"
     " host text NOT NULL DEFAULT '', port text NOT NULL DEFAULT '', hub_ids text NOT NULL DEFAULT '',"
     " version_before text NOT NULL DEFAULT '', version_after text NOT NULL DEFAULT '',"
     " image_path text NOT NULL DEFAULT '', image_sha256 text NOT NULL DEFAULT '',"
     " image_serial text NOT NULL DEFAULT '', phases text NOT NULL DEFAULT '',"
     " result text NOT NULL DEFAULT 'unfinished', failure text NOT NULL DEFAULT '',"
     " backup_sha256 text NOT NULL DEFAULT '', recovered_run text NOT NULL DEFAULT '',"
     " station text NOT NULL DEFAULT '', origin text NOT NULL DEFAULT '',"
     " revision bigint NOT NULL DEFAULT 1,"
     " received timestamptz NOT NULL DEFAULT now());"
     "CREATE INDEX velmora_runs_started ON velmora_runs (started);"
     "CREATE INDEX velmora_runs_station ON velmora_runs (station, started);"},
    // 2: the serial number each hub reported after its update.
    {2,
     "ALTER TABLE velmora_runs ADD COLUMN hub_serial text NOT NULL DEFAULT '';"
     "CREATE INDEX velmora_runs_hub_serial ON velmora_runs (hub_serial);"},
    // 3: the line's serial numbers, one counter per prefix for every station.
    {3, kServerSerialTablesLayout},
}};
static_assert(kUpgrades.back().version == kServerLayoutVersion, "every layout version has its upgrade step");

// The server's time as the history writes every stamp.
constexpr const char* kIsoNow = "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";

constexpr const char* kUpsertName = "velmora_upsert";

using Result = PostgresResult;

std::string upsertSql() {
    std::string values;
    std::string updates;
    int position = 1;
    for (const char* column : kRecordColumns) {
        appendText(values, {position > 1 ? ", $" : "$", std::to_string(position)});
        if (std::string(column) == "run_uuid") values += "::uuid";
        updates += std::string(position > 1 ? ", " : "") + column + " = EXCLUDED." + column;
        ++position;
    }
    std::string revision = "$";
    revision += std::to_string(position);
    return "INSERT INTO velmora_runs (" + recordColumnList() + ", revision) VALUES (" + values + ", " +
           revision + "::bigint) ON CONFLICT (run_uuid) DO UPDATE SET " + updates +
           ", revision = EXCLUDED.revision, received = now() WHERE velmora_runs.revision < "
           "EXCLUDED.revision;";
}

std::string selectSql() {
    std::string columns;
    for (const char* column : kRecordColumns) {
        columns += ", ";
        columns += std::string(column) == "run_uuid" ? "run_uuid::text" : column;
    }
    std::string received = kIsoNow;
    received.replace(received.find("now()"), 5, "received");
    return "SELECT id" + columns + ", revision, " + received + " FROM velmora_runs";
}

// libpq's messages run over several lines ("...: Connection refused\n\tIs the
// server running..."); a station prints each on one line, its parts joined by "; ".
std::string oneLine(const std::string& message) {
    std::string line;
    bool broken = false;
    for (const char c : message) {
        if (c == '\n' || c == '\r') {
            broken = true;
        } else if (broken && (c == ' ' || c == '\t')) {
            continue;
        } else {
            if (broken && !line.empty()) line += "; ";
            broken = false;
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace

std::unique_ptr<PostgresHistory> PostgresHistory::connect(const std::string& uri, std::string& error) {
    // The URI comes after the timeout and the session's settings, so its own
    // connect_timeout or options win; libpq expands a URI given as dbname into
    // its parts.
    const std::string timeout = std::to_string(kServerConnectTimeout.count());
    const char* keywords[] = {"connect_timeout", "application_name", "options", "dbname", nullptr};
    const char* values[] = {timeout.c_str(), "velmora", kSessionKeepalives, uri.c_str(), nullptr};
    pg_conn* connection = PQconnectdbParams(keywords, values, 1);
    // The server's notices (a layout step finding its table made by another
    // station) are no station's business; libpq would print them to stderr.
    if (connection != nullptr)
        PQsetNoticeProcessor(
            connection, [](void*, const char*) {}, nullptr);
    std::unique_ptr<PostgresHistory> server(new PostgresHistory(connection, uri));
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
        error = connection == nullptr ? "out of memory" : server->failure();
        return nullptr;
    }
    if (!server->layOut(error)) return nullptr;
    return server;
}

PostgresHistory::~PostgresHistory() {
    PQfinish(connection_);
}

bool PostgresHistory::usable() const {
    return PQstatus(connection_) == CONNECTION_OK;
}

std::string PostgresHistory::failure() const {
    std::string message = oneLine(PQerrorMessage(connection_));
    if (message.empty()) message = "the server did not answer";
    return withoutPassword(message, uri_);
}

bool PostgresHistory::execute(const char* sql, std::string& error) {
    const Result result(PQexec(connection_, sql));
    if (result.is(PGRES_COMMAND_OK) || result.is(PGRES_TUPLES_OK)) return true;
    error = failure();
    return false;
}

bool PostgresHistory::layOut(std::string& error) {
    // Most connections find the layout current and write nothing: a station's
    // role needs no right to create tables once the line's is made.
    const auto currentLayout = [this, &error]() -> std::optional<int> {
        // Two statements: a query naming a table that is not there fails whole.
        const Result exists(PQexec(connection_, "SELECT to_regclass('velmora_layout') IS NOT NULL;"));
        if (!exists.is(PGRES_TUPLES_OK) || exists.rows() != 1) {
            error = failure();
            return std::nullopt;
        }
        if (exists.text(0, 0) != "t") return 0;
        const Result found(PQexec(connection_, "SELECT coalesce(max(version), 0) FROM velmora_layout;"));
        if (!found.is(PGRES_TUPLES_OK) || found.rows() != 1) {
            error = failure();
            return std::nullopt;
        }
        return std::stoi(found.text(0, 0));
    };
    std::optional<int> version = currentLayout();
    if (!version) return false;
    if (*version == kServerLayoutVersion) return true;
    if (*version < kServerLayoutVersion) {
        // Another station may be at the same step: the lock makes it wait, and it
        // then reads the layout this one made.
        if (!execute("BEGIN;", error)) return false;
        const std::string lock = "SELECT pg_advisory_xact_lock(" + std::to_string(kLayoutLockKey) + ");";
        bool done = execute(lock.c_str(), error) &&
                    execute("CREATE TABLE IF NOT EXISTS velmora_layout (version integer NOT NULL);", error) &&
                    (version = currentLayout()).has_value();
        for (const LayoutUpgrade& step : kUpgrades) {
            if (done && step.version > *version) done = execute(step.sql, error);
        }
        if (done && *version < kServerLayoutVersion) {
            const std::string mark = "DELETE FROM velmora_layout; INSERT INTO velmora_layout VALUES (" +
                                     std::to_string(kServerLayoutVersion) + ");";
            done = execute(mark.c_str(), error);
        }
        if (!done || !execute("COMMIT;", error)) {
            std::string ignored;
            execute("ROLLBACK;", ignored);
            return false;
        }
    }
    if (*version > kServerLayoutVersion) {
        error = "the server's history has layout " + std::to_string(*version) +
                ", newer than this program's (" + std::to_string(kServerLayoutVersion) +
                "); update velmora on this station";
        return false;
    }
    return true;
}

bool PostgresHistory::upsert(const HistoryRecord& record, std::string& error) {
    if (!prepared_) {
        const Result prepared(PQprepare(connection_, kUpsertName, upsertSql().c_str(), 0, nullptr));
        if (!prepared.is(PGRES_COMMAND_OK)) {
            error = failure();
            return false;
        }
        prepared_ = true;
    }
    const std::string revision = std::to_string(record.revision > 0 ? record.revision : 1);
    std::array<const char*, kRecordColumns.size() + 1> values{};
    std::size_t index = 0;
    for (const std::string* field : recordFields(record)) values[index++] = field->c_str();
    values[index] = revision.c_str();
    const Result result(PQexecPrepared(connection_, kUpsertName, static_cast<int>(values.size()),
                                       values.data(), nullptr, nullptr, 0));
    if (result.is(PGRES_COMMAND_OK)) return true;
    error = failure();
    return false;
}

bool PostgresHistory::record(HistoryRecord& record, std::string& error) {
    if (record.runUuid.empty()) record.runUuid = newRunUuid(parseIsoTime(record.started).value_or(wallNow()));
    ++record.revision;  // each write of the same record is newer than the last
    return send({record}, error).has_value();
}

std::optional<std::string> PostgresHistory::send(const std::vector<HistoryRecord>& rows, std::string& error) {
    if (!execute("BEGIN;", error)) return std::nullopt;
    bool done = true;
    for (const HistoryRecord& row : rows) {
        if (done) done = upsert(row, error);
    }
    std::optional<std::string> received;
    if (done) {
        const Result now(PQexec(connection_, (std::string("SELECT ") + kIsoNow + ";").c_str()));
        if (now.is(PGRES_TUPLES_OK) && now.rows() == 1) received = now.text(0, 0);
        if (!received) error = failure();
    }
    if (received && execute("COMMIT;", error)) return received;
    std::string ignored;
    execute("ROLLBACK;", ignored);
    return std::nullopt;
}

std::optional<std::vector<HistoryRecord>> PostgresHistory::list(const HistoryFilter& filter,
                                                                std::string& error) {
    std::string sql = selectSql() + " WHERE started >= $1";
    std::vector<const char*> values{filter.since.c_str()};
    if (!filter.port.empty()) {
        values.push_back(filter.port.c_str());
        sql += " AND port = $" + std::to_string(values.size());
    }
    if (!filter.station.empty()) {
        values.push_back(filter.station.c_str());
        sql += " AND station = $" + std::to_string(values.size());
    }
    if (!filter.serial.empty()) {
        // The same parameter twice: the serial the image gave, or the one reported.
        values.push_back(filter.serial.c_str());
        std::string serial = "$";
        serial += std::to_string(values.size());
        sql += " AND (hub_serial = " + serial + " OR image_serial = " + serial + ")";
    }
    sql += " ORDER BY started, id;";
    const Result result(PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                     values.data(), nullptr, nullptr, 0));
    if (!result.is(PGRES_TUPLES_OK)) {
        error = failure();
        return std::nullopt;
    }
    std::vector<HistoryRecord> records(static_cast<std::size_t>(result.rows()));
    for (int row = 0; row < result.rows(); ++row) {
        HistoryRecord& record = records[static_cast<std::size_t>(row)];
        record.id = std::stoll(result.text(row, 0));
        int column = 1;
        for (std::string* field : recordFields(record)) *field = result.text(row, column++);
        record.revision = std::stoll(result.text(row, column++));
        record.serverTime = result.text(row, column);
    }
    return records;
}

}  // namespace velmora::history
