#include "history/ReportCounts.h"

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
};

Dialect dialectOf(SqlDialect dialect) {
    if (dialect == SqlDialect::Postgres)
        return {"LEAST", " COLLATE \"C\"", " IS DISTINCT FROM ", "bigint", ""};
    // The file's texts compare in bytes already; "C" is only on the program's
    // own connection, and a trigger runs on every connection that writes.
    // A table without row numbers is one tree: a count's write touches fewer pages.
    return {"min", "", " IS NOT ", "integer", " WITHOUT ROWID"};
}

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
               dialect_.numberType + " NOT NULL, first_run text" + dialect_.bytewise +
               " NOT NULL, PRIMARY KEY (day, station, port, origin, operation, result, shape))" +
               dialect_.keyedTable +
               ";"
               "CREATE TABLE " +
               tables_.units + " (unit_id text NOT NULL, origin text NOT NULL, runs " + dialect_.numberType +
               " NOT NULL, first_run text" + dialect_.bytewise +
               " NOT NULL, first_result text NOT NULL, PRIMARY KEY (unit_id, origin))" + dialect_.keyedTable +
               ";";
    }

    // The run's place among the counts, and the counts' first fill.
    std::string added(const std::string& row) const {
        const std::string counts = tables_.counts;
        const std::string units = tables_.units;
        return "INSERT INTO " + counts +
               " (day, station, port, origin, operation, result, shape, runs, first_run) VALUES (" +
               startDayOf(row) + ", " + row + "station, " + row + "port, " + row + "origin, " + row +
               "operation, " + resultLetterOf(row) + ", " + phaseShapeOf(row) + ", 1, " + listOrderOf(row) +
               ") ON CONFLICT (day, station, port, origin, operation, result, shape) DO UPDATE SET runs = " +
               counts + ".runs + 1, first_run = " + dialect_.least + "(" + counts +
               ".first_run, excluded.first_run);"
               "INSERT INTO " +
               units + " (unit_id, origin, runs, first_run, first_result) SELECT " + row + "unit_id, " + row +
               "origin, 1, " + listOrderOf(row) + ", " + resultLetterOf(row) + " WHERE " + isUnitRun(row) +
               " ON CONFLICT (unit_id, origin) DO UPDATE SET runs = " + units +
               ".runs + 1, first_result = CASE WHEN excluded.first_run < " + units +
               ".first_run THEN excluded.first_result ELSE " + units +
               ".first_result END, first_run = " + dialect_.least + "(" + units +
               ".first_run, excluded.first_run);";
    }

    // The run taken out of its place. A unit whose first run it was looks its
    // first run up again among its others (by the unit's index: a few rows).
    std::string removed(const std::string& row) const {
        const std::string place =
            " WHERE day = " + startDayOf(row) + " AND station = " + row + "station AND port = " + row +
            "port AND origin = " + row + "origin AND operation = " + row +
            "operation AND result = " + resultLetterOf(row) + " AND shape = " + phaseShapeOf(row);
        const std::string unit = " WHERE unit_id = " + row + "unit_id AND origin = " + row + "origin";
        const std::string others = " FROM " + std::string(tables_.runs) +
                                   " AS other WHERE other.unit_id = " + row +
                                   "unit_id AND other.origin = " + row + "origin AND other.operation IN (" +
                                   units_ + ") AND other.id <> " + row + "id";
        return "UPDATE " + std::string(tables_.counts) + " SET runs = runs - 1" + place + ";" +
               "DELETE FROM " + tables_.counts + place + " AND runs <= 0;" + "UPDATE " + tables_.units +
               " SET runs = runs - 1" + unit + " AND " + isUnitRun(row) + ";" + "DELETE FROM " +
               tables_.units + unit + " AND runs <= 0;" + "UPDATE " + tables_.units +
               " SET first_run = (SELECT min(" + listOrderOf("other.") + dialect_.bytewise + ")" + others +
               "), first_result = (SELECT " + resultLetterOf("other.") + others + " ORDER BY " +
               listOrderOf("other.") + dialect_.bytewise + " LIMIT 1)" + unit +
               " AND first_run = " + listOrderOf(row) + " AND " + isUnitRun(row) + ";";
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
    const std::string function = counts + "_kept";
    return layout.tables() + "CREATE OR REPLACE FUNCTION " + function +
           "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $counted$"
           " BEGIN IF TG_OP <> 'INSERT' THEN " +
           layout.removed("OLD.") + " END IF; IF TG_OP <> 'DELETE' THEN " + layout.added("NEW.") +
           " END IF; RETURN NULL; END $counted$;" + "CREATE TRIGGER " + counts +
           "_written AFTER INSERT OR DELETE ON " + runs + " FOR EACH ROW EXECUTE FUNCTION " + function +
           "();" + "CREATE TRIGGER " + counts + "_changed AFTER UPDATE ON " + runs + " FOR EACH ROW WHEN (" +
           layout.changed() + ") EXECUTE FUNCTION " + function + "();" + layout.filled();
}

}  // namespace velmora::history
