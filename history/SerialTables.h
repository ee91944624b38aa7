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

// The same tables on a line's server, shared by every station that sends there.
// A number's state and station are what the station file keeps; changed is the
// server's own time.
inline constexpr const char* kServerSerialTablesLayout =
    "CREATE TABLE velmora_serial_counters ("
    " prefix text PRIMARY KEY,"
    " next_number bigint NOT NULL);"
    "CREATE TABLE velmora_serial_numbers ("
    " prefix text NOT NULL,"
    " number bigint NOT NULL,"
    " station text NOT NULL,"
    " state text NOT NULL,"
    " changed timestamptz NOT NULL DEFAULT now(),"
    " UNIQUE (prefix, number));"
    "CREATE INDEX velmora_serial_numbers_station ON velmora_serial_numbers (station, state);";

}  // namespace velmora::history
