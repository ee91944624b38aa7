#include "history/ReportCounts.h"

#include <array>

#include "history/HistoryRecord.h"
#include "workflows/RunOperation.h"

namespace velmora::history {
namespace {

std::string quoted(const char* word) {
    return std::string("'") + word + "'";
}

// The differences of the two stores' SQL the layout meets.
struct Dialect {
    const char* least;     // the smaller of two values
    const char* bytewise;  // appended to a text compared in bytes
    const char* differs;   // "a differs from b", NULL being a value
    const char* numberType;
    const char* keyedTable;  // after a table keyed by its primary key alone
    // How a key's text of any length is indexed: the server's index takes no
    // entry over a third of a page (a run's long phase log or port would be
    // refused, and one such row already kept would fail the layout's first
    // fill), so it keys the texts by their MD5; the file's takes any length.
    const char* keyText;
    // " AND ...": a day's runs as a range of the runs' index of starts, for a
    // store whose texts compare in bytes (the day's starts begin with it, and
    // end before it followed by the last character there is); nothing for the
    // server, whose order is its collation's: it indexes a station's days.
    std::string dayRange(const std::string& day) const {
        if (!bytesOrdered) return {};
        return " AND other.started >= " + day + " AND other.started < " + day + " || char(1114111)";
    }
    bool bytesOrdered;
};

Dialect dialectOf(SqlDialect dialect) {
    if (dialect == SqlDialect::Postgres)
        return {"LEAST", " COLLATE \"C\"", " IS DISTINCT FROM ", "bigint", "", "md5", false};
    // The file's texts compare in bytes already; "C" is only on the program's
    // own connection, and a trigger runs on every connection that writes.
    // A table without row numbers is one tree: a count's write touches fewer pages.
    return {"min", "", " IS NOT ", "integer", " WITHOUT ROWID", "", true};
}

// The columns that key a count and a unit; texts of any length marked with *.
constexpr const char* kCountsKey[] = {"day",        "*station", "*port", "*origin",
                                      "*operation", "result",   "*shape"};
constexpr const char* kUnitsKey[] = {"*unit_id", "*origin"};

// The columns that decide where a run counts.
constexpr const char* kCountedColumns[] = {"started",   "station", "port",   "origin",
                                           "operation", "result",  "phases", "unit_id"};

class CountsLayout {
public:
    CountsLayout(SqlDialect dialect, const ReportTables& tables)
        : dialect_(dialectOf(dialect)), tables_(tables), units_(unitOperationList()) {}

    std::string tables() const {
        const std::string counts = std::string(tables_.counts);
        return "CREATE TABLE " + counts +
               " (day text NOT NULL, station text NOT NULL, port text NOT NULL, origin text NOT NULL,"
               " operation text NOT NULL, result text NOT NULL, shape text NOT NULL, runs " +
               dialect_.numberType + " NOT NULL, first_run text" + dialect_.bytewise + " NOT NULL" +
               primaryKey(kCountsKey) + ")" + dialect_.keyedTable + ";" + uniqueKey(counts, kCountsKey) +
               stationDays() + "CREATE TABLE " + tables_.units +
               " (unit_id text NOT NULL, origin text NOT NULL, runs " + dialect_.numberType +
               " NOT NULL, first_run text" + dialect_.bytewise + " NOT NULL, first_result text NOT NULL" +
               primaryKey(kUnitsKey) + ")" + dialect_.keyedTable + ";" + uniqueKey(tables_.units, kUnitsKey);
    }

    // The run's place among the counts, and the counts' first fill.
    std::string added(const std::string& row) const {
        const std::string counts = tables_.counts;
        const std::string units = tables_.units;
        return "INSERT INTO " + counts +
               " (day, station, port, origin, operation, result, shape, runs, first_run) VALUES (" +
               startDayOf(row) + ", " + row + "station, " + row + "port, " + row + "origin, " + row +
               "operation, " + resultLetterOf(row) + ", " + phaseShapeOf(row) + ", 1, " + listOrderOf(row) +
               ") ON CONFLICT (" + keyOf(kCountsKey) + ") DO UPDATE SET runs = " + counts +
               ".runs + 1, first_run = " + dialect_.least + "(" + counts +
               ".first_run, excluded.first_run);"
               "INSERT INTO " +
               units + " (unit_id, origin, runs, first_run, first_result) SELECT " + row + "unit_id, " + row +
               "origin, 1, " + listOrderOf(row) + ", " + resultLetterOf(row) + " WHERE " + isUnitRun(row) +
               " ON CONFLICT (" + keyOf(kUnitsKey) + ") DO UPDATE SET runs = " + units +
               ".runs + 1, first_result = CASE WHEN excluded.first_run < " + units +
               ".first_run THEN excluded.first_result ELSE " + units +
               ".first_result END, first_run = " + dialect_.least + "(" + units +
               ".first_run, excluded.first_run);";
    }

    // The run taken out of its place. A count or a unit whose first run it was
    // looks its first run up again among its others: a count's among the
    // station's runs of its day (dayRange; found among the run's port's in
    // progress, so rare while the runs are written), a unit's by the unit's
    // index (a few rows).
    // None found leaves the first as it was: the server's trigger sees every
    // row its statement wrote, so the others of a count or unit whose runs
    // one statement deletes or moves are gone already, and the count or unit
    // goes with the last of their own triggers.
    std::string removed(const std::string& row) const {
        const std::string place =
            " WHERE " + keyIs(kCountsKey, {startDayOf(row), row + "station", row + "port", row + "origin",
                                           row + "operation", resultLetterOf(row), phaseShapeOf(row)});
        const std::string unit = " WHERE " + keyIs(kUnitsKey, {row + "unit_id", row + "origin"});
        const std::string notRow = " AND other.id <> " + row + "id";
        const std::string countsOthers =
            " FROM " + std::string(tables_.runs) + " AS other WHERE other.station = " + row + "station" +
            dialect_.dayRange(startDayOf(row)) + " AND " + startDayOf("other.") + " = " + startDayOf(row) +
            " AND other.port = " + row + "port AND other.origin = " + row +
            "origin AND other.operation = " + row + "operation AND " + resultLetterOf("other.") + " = " +
            resultLetterOf(row) + " AND " + phaseShapeOf("other.") + " = " + phaseShapeOf(row) + notRow;
        const std::string unitsOthers =
            " FROM " + std::string(tables_.runs) + " AS other WHERE other.unit_id = " + row +
            "unit_id AND other.origin = " + row + "origin AND other.operation IN (" + units_ + ")" + notRow;
        const std::string first = "min(" + listOrderOf("other.") + dialect_.bytewise + ")";
        // The first run looked up only where it was this one and others stay, in
        // the one statement that counts it out (a set's values are the row's
        // before it).
        const std::string wasFirst = listOrderOf(row);
        return "UPDATE " + std::string(tables_.counts) + " SET runs = runs - 1, first_run = " +
               again(wasFirst, "(SELECT " + first + countsOthers + ")", "first_run") + place + ";" +
               "DELETE FROM " + tables_.counts + place + " AND runs <= 0;" + "UPDATE " + tables_.units +
               " SET runs = runs - 1, first_run = " +
               again(wasFirst, "(SELECT " + first + unitsOthers + ")", "first_run") + ", first_result = " +
               again(wasFirst,
                     "(SELECT " + resultLetterOf("other.") + unitsOthers + " ORDER BY " +
                         listOrderOf("other.") + dialect_.bytewise + " LIMIT 1)",
                     "first_result") +
               unit + " AND " + isUnitRun(row) + ";" + "DELETE FROM " + tables_.units + unit +
               " AND runs <= 0;";
    }

    // An update that moves none of the columns counted leaves the counts alone
    // (the sender's marks, a row's time at the server).
    std::string changed() const {
        std::string condition;
        for (const char* column : kCountedColumns)
            condition += std::string(condition.empty() ? "" : " OR ") + "OLD." + column + dialect_.differs +
                         "NEW." + column;
        return condition;
    }

    // The counts of the runs kept before the counts were.
    std::string filled() const {
        const std::string runs = tables_.runs;
        return "INSERT INTO " + std::string(tables_.counts) +
               " (day, station, port, origin, operation, result, shape, runs, first_run) SELECT " +
               startDayOf() + ", station, port, origin, operation, " + resultLetterOf() + ", " +
               phaseShapeOf() + ", count(*), min(" + listOrderOf() + dialect_.bytewise + ") FROM " + runs +
               " GROUP BY 1, 2, 3, 4, 5, 6, 7;"
               "INSERT INTO " +
               tables_.units +
               " (unit_id, origin, runs, first_run, first_result) SELECT unit_id, origin, runs, first_run,"
               " first_result FROM (SELECT unit_id, origin, count(*) OVER (PARTITION BY unit_id, origin) AS"
               " runs, " +
               listOrderOf() + " AS first_run, " + resultLetterOf() +
               " AS first_result, row_number() OVER (PARTITION BY unit_id, origin ORDER BY " + listOrderOf() +
               dialect_.bytewise + ") AS place FROM " + runs + " WHERE " + isUnitRun("") +
               ") AS ordered WHERE place = 1;";
    }

private:
    // A key's column (or value) as it is indexed.
    std::string keyed(const char* column, const std::string& value) const {
        if (*column != '*' || *dialect_.keyText == '\0') return value;
        return std::string(dialect_.keyText) + "(" + value + ")";
    }
    template <std::size_t N>
    std::string keyOf(const char* const (&key)[N]) const {
        std::string list;
        for (const char* column : key)
            list += (list.empty() ? "" : ", ") + keyed(column, column + (*column == '*' ? 1 : 0));
        return list;
    }
    // ", PRIMARY KEY (...)" where the key is the columns themselves.
    template <std::size_t N>
    std::string primaryKey(const char* const (&key)[N]) const {
        return *dialect_.keyText == '\0' ? ", PRIMARY KEY (" + keyOf(key) + ")" : "";
    }
    // The unique index of a key over its texts' digests.
    template <std::size_t N>
    std::string uniqueKey(const std::string& table, const char* const (&key)[N]) const {
        if (*dialect_.keyText == '\0') return {};
        return "CREATE UNIQUE INDEX " + table + "_key ON " + table + " (" + keyOf(key) + ");";
    }
    // "key = values", each column as it is indexed, so that the index finds the row.
    template <std::size_t N>
    std::string keyIs(const char* const (&key)[N], const std::array<std::string, N>& values) const {
        std::string condition;
        for (std::size_t index = 0; index < N; ++index) {
            const char* column = key[index];
            condition += (condition.empty() ? "" : " AND ") +
                         keyed(column, column + (*column == '*' ? 1 : 0)) + " = " +
                         keyed(column, values[index]);
        }
        return condition;
    }

    // The server's index of a station's days, where a count looks its first run up.
    std::string stationDays() const {
        if (dialect_.bytesOrdered) return {};
        const std::string runs = tables_.runs;
        return "CREATE INDEX " + runs + "_station_day ON " + runs + " (station, " + startDayOf() + ");";
    }

    // A first (column) looked up again (found) where the run counted out was
    // it (wasFirst) and others stay; as it was elsewhere, and when none is found.
    static std::string again(const std::string& wasFirst, const std::string& found, const char* column) {
        return std::string("CASE WHEN runs > 1 AND first_run = ") + wasFirst + " THEN coalesce(" + found +
               ", " + column + ") ELSE " + column + " END";
    }

    std::string isUnitRun(const std::string& row) const {
        return row + "unit_id IS NOT NULL AND " + row + "operation IN (" + units_ + ")";
    }

    Dialect dialect_;
    ReportTables tables_;
    std::string units_;
};

}  // namespace

std::string resultLetterOf(const std::string& row) {
    return "CASE " + row + "result WHEN " + quoted(kResultSuccess) + " THEN 's' WHEN " +
           quoted(kResultFailure) + " THEN 'f' WHEN " + quoted(kResultUnfinished) + " THEN 'u' ELSE 'o' END";
}

std::string listOrderOf(const std::string& row) {
    // The start padded, then the id right-aligned.
    return "format('%-40s%20s', " + row + "started, " + row + "id)";
}

std::string phaseShapeOf(const std::string& row) {
    // Nine replace() calls, in both stores' SQL alike (the server's translate()
    // looks each character up through the whole list: three times slower).
    std::string text = row + "phases";
    for (char digit = '1'; digit <= '9'; ++digit) text = "replace(" + text + ", '" + digit + "', '0')";
    return text;
}

std::string startDayOf(const std::string& row) {
    return "substr(" + row + "started, 1, 10)";
}

std::string unitOperationList() {
    std::string list;
    for (int value = 0;; ++value) {
        const auto operation = static_cast<RunOperation>(value);
        const char* name = runOperationName(operation);
        if (std::string(name) == "?") break;
        if (flashesUnit(operation)) list += (list.empty() ? "" : ", ") + quoted(name);
    }
    return list;
}

std::string reportCountsLayout(SqlDialect dialect, const ReportTables& tables) {
    const CountsLayout layout(dialect, tables);
    const std::string runs = tables.runs;
    const std::string counts = tables.counts;
    if (dialect == SqlDialect::Sqlite) {
        return layout.tables() + "CREATE TRIGGER " + counts + "_inserted AFTER INSERT ON " + runs +
               " BEGIN " + layout.added("NEW.") + " END;" + "CREATE TRIGGER " + counts +
               "_deleted AFTER DELETE ON " + runs + " BEGIN " + layout.removed("OLD.") + " END;" +
               "CREATE TRIGGER " + counts + "_updated AFTER UPDATE ON " + runs + " WHEN " + layout.changed() +
               " BEGIN " + layout.removed("OLD.") + layout.added("NEW.") + " END;" + layout.filled();
    }
    // The function runs as the role that laid the counts out (their owner), so
    // a station's role that may write the runs keeps the counts too, whatever
    // rights it was given on them; its tables are found where they were made.
    // Its search path names the session's own temporary tables last: first (as
    // a path that does not name them searches them), a table a writer made
    // there under a counts' name would be written as that owner, and a trigger
    // on it would run the writer's code with the owner's rights.
    const std::string function = counts + "_kept";
    return layout.tables() +
           "SELECT set_config('search_path', 'pg_catalog, ' || quote_ident(current_schema()) || ', pg_temp',"
           " true);"
           "CREATE OR REPLACE FUNCTION " +
           function +
           "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $counted$"
           " BEGIN IF TG_OP <> 'INSERT' THEN " +
           layout.removed("OLD.") + " END IF; IF TG_OP <> 'DELETE' THEN " + layout.added("NEW.") +
           " END IF; RETURN NULL; END $counted$;" + "CREATE TRIGGER " + counts +
           "_written AFTER INSERT OR DELETE ON " + runs + " FOR EACH ROW EXECUTE FUNCTION " + function +
           "();" + "CREATE TRIGGER " + counts + "_changed AFTER UPDATE ON " + runs + " FOR EACH ROW WHEN (" +
           layout.changed() + ") EXECUTE FUNCTION " + function + "();" + layout.filled();
}

}  // namespace velmora::history
