#pragma once
// The history's part in a production line's serial numbers: a counter per prefix
// and every number given, in its own tables, and the serial each hub reported
// after its update in the run's row. Laid out by the history's own upgrade list.
namespace velmora::history {

// The serial numbers' tables and the runs' reported serial. A number row is
// written in the transaction that moves its prefix's counter, and UNIQUE
// (prefix, number) makes a second writer of the same number fail rather than
// succeed: that constraint, not the code, is what keeps every number single.
inline constexpr const char* kSerialTablesLayout =
    "ALTER TABLE runs ADD COLUMN hub_serial TEXT NOT NULL DEFAULT '';"
    "CREATE TABLE IF NOT EXISTS serial_counters ("
    " prefix TEXT PRIMARY KEY,"
    " next_number INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS serial_numbers ("
    " prefix TEXT NOT NULL,"
    " number INTEGER NOT NULL,"
    " station TEXT NOT NULL,"
    " state TEXT NOT NULL,"
    " changed TEXT NOT NULL,"
    " UNIQUE (prefix, number));"
    "CREATE INDEX IF NOT EXISTS serial_numbers_station ON serial_numbers (station, state);"
    "CREATE INDEX IF NOT EXISTS runs_hub_serial ON runs (hub_serial);";

// Layout 5: one name per run, and what bench runs keep apart from a real hub's.
// A recovery's row names the run it recovered by that run's UUID rather than the
// local row number (and is sent again, so the server learns it too); the runs of
// the testbed's emulated bus, once stored as "replayed", are "testbed"; each
// serial counter and number belongs to an origin (a real hub's: empty), so a
// simulated station never takes a real one's numbers, and a number names the
// run that took it. SQLite changes no key in place: the two tables are made
// again and filled from the old ones, whose numbers were all a real line's.
inline constexpr const char* kOneNamePerRunLayout =
    "UPDATE runs SET recovered_run = (SELECT recovered.run_uuid FROM runs AS recovered"
    "  WHERE CAST(recovered.id AS TEXT) = runs.recovered_run),"
    " revision = revision + 1, sent_to_server = ''"
    " WHERE recovered_run <> '' AND EXISTS (SELECT 1 FROM runs AS recovered"
    "  WHERE CAST(recovered.id AS TEXT) = runs.recovered_run);"
    "UPDATE runs SET origin = 'testbed', revision = revision + 1, sent_to_server = ''"
    " WHERE origin = 'replayed';"
    "CREATE TABLE serial_counters_by_origin ("
    " origin TEXT NOT NULL DEFAULT '',"
    " prefix TEXT NOT NULL,"
    " next_number INTEGER NOT NULL,"
    " PRIMARY KEY (origin, prefix));"
    "INSERT INTO serial_counters_by_origin (prefix, next_number) SELECT prefix, next_number FROM "
    "serial_counters;"
    "DROP TABLE serial_counters;"
    "ALTER TABLE serial_counters_by_origin RENAME TO serial_counters;"
    "CREATE TABLE serial_numbers_by_origin ("
    " origin TEXT NOT NULL DEFAULT '',"
    " prefix TEXT NOT NULL,"
    " number INTEGER NOT NULL,"
    " station TEXT NOT NULL,"
    " state TEXT NOT NULL,"
    " changed TEXT NOT NULL,"
    " run_uuid TEXT NOT NULL DEFAULT '',"
    " UNIQUE (origin, prefix, number));"
    "INSERT INTO serial_numbers_by_origin (prefix, number, station, state, changed)"
    " SELECT prefix, number, station, state, changed FROM serial_numbers;"
    "DROP TABLE serial_numbers;"
    "ALTER TABLE serial_numbers_by_origin RENAME TO serial_numbers;"
    "CREATE INDEX serial_numbers_station ON serial_numbers (origin, station, state);";

// Layout 9: the marks of a line's serial numbers kept until the line's server
// has them (history/SerialMarks.h), each with the server it is for (never with a
// password), in the order they were kept. A mark the server took is removed.
inline constexpr const char* kKeptMarksLayout =
    "CREATE TABLE serial_marks ("
    " id INTEGER PRIMARY KEY,"
    " line_server TEXT NOT NULL,"
    " origin TEXT NOT NULL DEFAULT '',"
    " station TEXT NOT NULL,"
    " prefix TEXT NOT NULL,"
    " number INTEGER NOT NULL,"
    " state TEXT NOT NULL,"
    " run_uuid TEXT NOT NULL DEFAULT '',"
    " kept TEXT NOT NULL);"
    "CREATE INDEX serial_marks_waiting ON serial_marks (line_server, station, id);";

}  // namespace velmora::history
