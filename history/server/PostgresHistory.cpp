#include "history/server/PostgresHistory.h"

#include <libpq-fe.h>

#include <array>
#include <thread>

#include "app/IsoTime.h"
#include "app/RunId.h"
#include "app/TextAppend.h"
#include "app/Utf8.h"
#include "history/HistoryColumns.h"
#include "history/HistoryLocation.h"
#include "history/server/PostgresResult.h"
#include "history/server/PostgresRoundTrip.h"
#include "history/server/ServerTables.h"

namespace velmora::history {
namespace {

// Taken by every layout change, held until its transaction ends: "velmora" in ASCII.
constexpr long long kLayoutLockKey = 0x76656c6d6f7261;

// The server's time as the history writes every stamp.
constexpr const char* kIsoNow = "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";

constexpr const char* kUpsertName = "velmora_upsert";

using Result = PostgresResult;

// How long a send met by another's transaction waits before it goes again (times its try).
constexpr std::chrono::milliseconds kTransientPause{50};

// A statement's failure that says nothing of its rows: a deadlock or a
// serialisation failure (the server ended this transaction for another's: at
// once worth another try), a lock waited for past the session's bound, a
// statement ended by its timeout (waited long already: tried on the next send).
bool endedForAnother(const std::string& state) {
    return state.rfind("40", 0) == 0;
}
bool transientFailure(const std::string& state) {
    return endedForAnother(state) || state == "55P03" || state == "57014";
}

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
    appendText(values, {", $", std::to_string(position++)});
    updates += std::string(", ") + kUnitIdColumn + " = EXCLUDED." + kUnitIdColumn;
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
    columns += std::string(", ") + kUnitIdColumn;
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

std::string passwordLibpqFinds(const std::string& uri) {
    char* failed = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &failed);
    PQfreemem(failed);
    std::string password;
    for (const PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr;
         ++option) {
        if (std::string(option->keyword) == "password" && option->val != nullptr) password = option->val;
    }
    PQconninfoFree(options);
    return password;
}

std::string serverIdentity(const std::string& uri) {
    char* failed = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &failed);
    PQfreemem(failed);
    if (options == nullptr) return redactUri(uri);
    std::string identity;
    for (const char* keyword : {"service", "host", "hostaddr", "port", "dbname", "user"}) {
        for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
            if (std::string(option->keyword) != keyword || option->val == nullptr || *option->val == '\0')
                continue;
            appendText(identity, {identity.empty() ? "" : " ", keyword, "=", option->val});
        }
    }
    PQconninfoFree(options);
    return identity;
}

PostgresHistory::PostgresHistory(std::string uri)
    : uri_(std::move(uri)), password_(passwordLibpqFinds(uri_)), identity_(serverIdentity(uri_)) {}

std::unique_ptr<PostgresHistory> PostgresHistory::connect(const std::string& uri, std::string& error) {
    auto server = std::make_unique<PostgresHistory>(uri);
    if (!server->use([](pg_conn*, std::string&) { return true; }, error)) return nullptr;
    return server;
}

PostgresHistory::~PostgresHistory() {
    PQfinish(connection_);
}

std::string PostgresHistory::name() const {
    return redactUri(uri_);
}

bool PostgresHistory::use(const Work& work, std::string& error) {
    std::lock_guard lock(mutex_);
    return connectLocked(error) && work(connection_, error);
}

bool PostgresHistory::connectLocked(std::string& error) {
    if (connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK) return true;
    const auto now = std::chrono::steady_clock::now();
    if (failedAt_ && now - *failedAt_ < kServerReconnectPause) {
        error = lastFailure_;
        return false;
    }
    PQfinish(connection_);
    forgetLateAnswer();
    prepared_ = false;
    // The URI comes after the timeout and the session's settings, so its own
    // connect_timeout or options win; libpq expands a URI given as dbname into
    // its parts.
    // The client's own keepalives and TCP timeout find a server host that went
    // away while the session sat idle between units.
    const std::string timeout = std::to_string(kServerConnectTimeout.count());
    const std::string options = std::string(kSessionKeepalives) + kSessionTimeouts;
    const char* keywords[] = {"connect_timeout",  "keepalives",
                              "keepalives_idle",  "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout",
                              "application_name", "options",
                              "dbname",           nullptr};
    const char* values[] = {timeout.c_str(), "1",          "30",   "10", "3", "10000", "velmora",
                            options.c_str(), uri_.c_str(), nullptr};
    connection_ = PQconnectdbParams(keywords, values, 1);
    // Whether the server itself said no to the connection: libpq notes that the
    // server asked for a password (a wrong or missing one, or on a server that
    // asks before it names any other fault: an unknown role or database) on a
    // failed connection too, and only the server can ask. libpq gives no other
    // sign that the server spoke (its error's SQLSTATE stays inside), and its
    // message texts are either side's words, translated.
    const bool refused = connection_ != nullptr && PQstatus(connection_) == CONNECTION_BAD &&
                         PQconnectionUsedPassword(connection_) == 1;
    // The server's notices (a layout step finding its table made by another
    // station) are no station's business; libpq would print them to stderr.
    if (connection_ != nullptr)
        PQsetNoticeProcessor(
            connection_, [](void*, const char*) {}, nullptr);
    // Nonblocking, so that no statement's send or answer waits past its bound.
    bool connected = connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK &&
                     PQsetnonblocking(connection_, 1) == 0;
    if (!connected) error = connection_ == nullptr ? "out of memory" : failure();
    if (connected) {
        ++sessions_;
        connected = layOut(error);
    }
    if (connected) {
        failedAt_.reset();
        refusedConnection_ = false;
        return true;
    }
    failedAt_ = now;
    lastFailure_ = error;
    refusedConnection_ = refused;
    // A session whose layout is refused is not used for anything else.
    PQfinish(connection_);
    connection_ = nullptr;
    return false;
}

std::string PostgresHistory::failure() const {
    std::string message = answerWasLate()          ? lateAnswerReason()
                          : connection_ == nullptr ? std::string{}
                                                   : oneLine(PQerrorMessage(connection_));
    if (message.empty()) message = "the server did not answer";
    message = withoutPassword(message, uri_);
    // The password as the client library decoded it, should a message repeat it.
    for (std::size_t found = password_.empty() ? std::string::npos : message.find(password_);
         found != std::string::npos; found = message.find(password_, found + 3))
        message.replace(found, password_.size(), "***");
    return message;
}

bool PostgresHistory::execute(const char* sql, std::string& error) {
    const Result result(execBounded(connection_, sql, kLayoutAnswerBound));
    if (result.is(PGRES_COMMAND_OK) || result.is(PGRES_TUPLES_OK)) return true;
    error = failure();
    return false;
}

bool PostgresHistory::layOut(std::string& error) {
    // Most connections find the layout current and write nothing: a station's
    // role needs no right to create tables once the line's is made.
    const auto currentLayout = [this, &error]() -> std::optional<int> {
        // Two statements: a query naming a table that is not there fails whole.
        const Result exists(execBounded(connection_, "SELECT to_regclass('velmora_layout') IS NOT NULL;"));
        if (!exists.is(PGRES_TUPLES_OK) || exists.rows() != 1) {
            error = failure();
            return std::nullopt;
        }
        if (exists.text(0, 0) != "t") return 0;
        const Result found(execBounded(connection_, "SELECT coalesce(max(version), 0) FROM velmora_layout;"));
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
        PostgresTransaction transaction(connection_);
        if (!transaction.begin()) {
            error = failure();
            return false;
        }
        const std::string lock = "SELECT pg_advisory_xact_lock(" + std::to_string(kLayoutLockKey) + ");";
        // A layout step may rewrite a large table, and wait for another station's:
        // the session's short timeouts are lifted for it alone.
        bool done =
            execute("SET LOCAL statement_timeout = '110s'; SET LOCAL lock_timeout = '110s';", error) &&
            execute(lock.c_str(), error) &&
            execute("CREATE TABLE IF NOT EXISTS velmora_layout (version integer NOT NULL);", error) &&
            (version = currentLayout()).has_value();
        for (const ServerLayoutStep& step : kServerLayoutSteps) {
            if (!done || step.version <= *version) continue;
            if (*step.sql != '\0') done = execute(step.sql, error);
            if (done && step.made != nullptr) done = execute(step.made().c_str(), error);
        }
        if (done && *version < kServerLayoutVersion) {
            const std::string mark = "DELETE FROM velmora_layout; INSERT INTO velmora_layout VALUES (" +
                                     std::to_string(kServerLayoutVersion) + ");";
            done = execute(mark.c_str(), error);
        }
        if (!done) return false;
        if (!transaction.commit()) {
            error = failure();
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
        const Result prepared(prepareBounded(connection_, kUpsertName, upsertSql().c_str()));
        if (!prepared.is(PGRES_COMMAND_OK)) {
            error = failure();
            return false;
        }
        prepared_ = true;
    }
    const std::string revision = std::to_string(record.revision > 0 ? record.revision : 1);
    // The server takes text as UTF-8 only: a byte that starts no character (an
    // image path in Latin-1) is sent as U+FFFD, the station's file keeps it as it
    // came, and the row is not refused for it.
    std::array<std::string, kRecordColumns.size() + 1> texts;
    std::array<const char*, kRecordColumns.size() + 2> values{};
    std::size_t index = 0;
    for (const std::string* field : recordFields(record)) {
        texts[index] = withValidUtf8(*field);
        values[index] = texts[index].c_str();
        ++index;
    }
    if (record.unitId) {
        texts[index] = withValidUtf8(*record.unitId);
        values[index] = texts[index].c_str();
    }
    values[++index] = revision.c_str();  // a unit without an ID: NULL
    const Result result(
        execPreparedBounded(connection_, kUpsertName, static_cast<int>(values.size()), values.data()));
    if (result.is(PGRES_COMMAND_OK)) return true;
    upsertState_ = result.state();
    error = failure();
    return false;
}

bool PostgresHistory::record(HistoryRecord& record, std::string& error) {
    if (record.runUuid.empty())
        record.runUuid = RunId::make(parseIsoTime(record.started).value_or(wallNow())).text();
    ++record.revision;  // each write of the same record is newer than the last
    return send({record}, error).has_value();
}

std::optional<std::string> PostgresHistory::send(const std::vector<HistoryRecord>& rows, std::string& error) {
    // Rows of two stations (or a station and its `history sync`) sent at once
    // meet on the report's counts and a unit's row: the server ends one of two
    // transactions that wait for each other, or a wait past the session's lock
    // bound. That is no row's fault: the rows go again after a moment, and
    // should they meet again the send ends as one that did not reach the
    // server, so the sender tries later and sets none of them aside.
    constexpr int kTries = 4;
    std::optional<std::string> received;
    bool refused = false;
    bool transient = false;
    for (int attempt = 1;; ++attempt) {
        received = sendOnce(rows, refused, transient, error);
        if (received || !transient || !endedForAnother(upsertState_) || attempt == kTries) break;
        std::this_thread::sleep_for(kTransientPause * attempt);
    }
    answered_ = received.has_value() || (refused && !transient) || refusedConnection_;
    return received;
}

std::optional<std::string> PostgresHistory::sendOnce(const std::vector<HistoryRecord>& rows, bool& refused,
                                                     bool& transient, std::string& error) {
    std::optional<std::string> received;
    refused = false;  // the server answered, and said no
    transient = false;
    const bool sent = use(
        [&](pg_conn* connection, std::string& failed) {
            const auto endRefused = [&] {
                refused = PQstatus(connection) == CONNECTION_OK && !answerWasLate();
                return false;
            };
            upsertState_.clear();
            PostgresTransaction transaction(connection);
            bool done = transaction.begin();
            if (!done) failed = failure();
            for (const HistoryRecord& row : rows) {
                if (done) done = upsert(row, failed);
            }
            transient = !done && transientFailure(upsertState_);
            if (done) {
                const Result now(execBounded(connection, (std::string("SELECT ") + kIsoNow + ";").c_str()));
                if (now.is(PGRES_TUPLES_OK) && now.rows() == 1) received = now.text(0, 0);
            }
            if (!received || !transaction.commit()) {
                if (done) failed = failure();
                received.reset();
                return endRefused();
            }
            return true;
        },
        error);
    if (!sent) return std::nullopt;
    return received;
}

std::optional<std::vector<HistoryRecord>> PostgresHistory::list(const HistoryFilter& asked,
                                                                std::string& error) {
    // The server takes UTF-8 only, and keeps rows so (upsert): a filter's byte
    // that starts no character selects as the rows' U+FFFD does, rather than
    // failing the statement with the server's "invalid byte sequence".
    HistoryFilter filter = asked;
    for (std::string* value : {&filter.since, &filter.port, &filter.station, &filter.serial, &filter.unitId})
        *value = withValidUtf8(*value);
    if (filter.origin) filter.origin = withValidUtf8(*filter.origin);
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
    if (filter.origin) {
        values.push_back(filter.origin->c_str());
        sql += " AND origin = $" + std::to_string(values.size());
    }
    if (!filter.unitId.empty()) {
        values.push_back(filter.unitId.c_str());
        sql += " AND unit_id = $" + std::to_string(values.size());
    }
    sql += " ORDER BY started, id;";
    std::vector<HistoryRecord> records;
    const bool listed = use(
        [&](pg_conn* connection, std::string& failed) {
            const Result result(
                execParamsBounded(connection, sql.c_str(), static_cast<int>(values.size()), values.data()));
            if (!result.is(PGRES_TUPLES_OK)) {
                failed = failure();
                return false;
            }
            records.resize(static_cast<std::size_t>(result.rows()));
            for (int row = 0; row < result.rows(); ++row) {
                HistoryRecord& record = records[static_cast<std::size_t>(row)];
                record.id = std::stoll(result.text(row, 0));
                int column = 1;
                for (std::string* field : recordFields(record)) *field = result.text(row, column++);
                record.unitId = result.optionalText(row, column++);
                record.revision = std::stoll(result.text(row, column++));
                record.serverTime = result.text(row, column);
            }
            return true;
        },
        error);
    if (!listed) return std::nullopt;
    return records;
}

}  // namespace velmora::history

namespace velmora::history {
namespace {

// The report's statements on a server session inside the report's transaction.
class PostgresReportSource final : public ReportSource {
public:
    PostgresReportSource(pg_conn* connection, const PostgresHistory& server)
        : connection_(connection), server_(server) {}
    ReportTables tables() const override { return kServerReportTables; }
    bool query(const std::string& sql, const std::vector<std::string>& parameters,
               const std::function<void(const ReportRow&)>& row, std::string& error) override {
        // As a listing's filter (list): UTF-8 only, a stray byte as U+FFFD.
        std::vector<std::string> texts;
        for (const std::string& parameter : parameters) texts.push_back(withValidUtf8(parameter));
        std::vector<const char*> values;
        for (const std::string& text : texts) values.push_back(text.c_str());
        const Result result(execParamsBounded(connection_, sql.c_str(), static_cast<int>(values.size()),
                                              values.data(), kReportAnswerBound));
        if (!result.is(PGRES_TUPLES_OK)) {
            error = server_.failure();
            return false;
        }
        ReportRow columns(static_cast<std::size_t>(result.columns()));
        for (int line = 0; line < result.rows(); ++line) {
            for (std::size_t column = 0; column < columns.size(); ++column)
                columns[column] = result.optionalText(line, static_cast<int>(column));
            row(columns);
        }
        return true;
    }

private:
    pg_conn* connection_;
    const PostgresHistory& server_;
};

}  // namespace

std::optional<std::vector<ReportLine>> PostgresHistory::report(const ReportRequest& request,
                                                               std::string& error) {
    std::optional<std::vector<ReportLine>> report;
    const bool counted = use(
        [&](pg_conn* connection, std::string& failed) {
            // One snapshot for all the report's statements, which may take longer
            // than a station's; a by-unit report's groups are counted in memory
            // rather than on disk where the server can.
            PostgresTransaction transaction(connection);
            if (!transaction.begin("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY;") ||
                !execute(kReportTimeouts, failed) || !execute("SET LOCAL work_mem = '64MB';", failed)) {
                if (failed.empty()) failed = failure();
                return false;
            }
            PostgresReportSource source(connection, *this);
            report = reportFrom(source, request, failed);
            if (report && !transaction.commit()) {
                failed = failure();
                report.reset();
            }
            return report.has_value();
        },
        error);
    if (!counted) return std::nullopt;
    return report;
}

}  // namespace velmora::history
