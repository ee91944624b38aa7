#pragma once
// The layout of a line's server: one step per version, each run in the first
// station's transaction that finds the server behind it. Later layouts add
// theirs at the end.
#include <array>
#include <string>

#include "history/ReportCounts.h"

namespace velmora::history {

struct ServerLayoutStep {
    int version;  // the layout this step leads to
    const char* sql;
    // What the program makes of its own rules, run after sql; may be null.
    std::string (*made)() = nullptr;
};

// The layout this program writes; a server with a higher one is refused.
inline constexpr int kServerLayoutVersion = 8;

inline std::string serverReportCounts() {
    return reportCountsLayout(SqlDialect::Postgres, kServerReportTables);
}

inline constexpr std::array<ServerLayoutStep, 8> kServerLayoutSteps = {{
    // 1: the runs, with the station file's columns, the run UUID as the key and
    // the time the server took the row's latest write.
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
    // 3: the line's serial numbers, one counter per prefix for every station. A
    // number's state and station are what the station file keeps; changed is
    // the server's own time.
    {3,
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
     "CREATE INDEX velmora_serial_numbers_station ON velmora_serial_numbers (station, state);"},
    // 4: bench runs kept apart and one name per run: testbed runs are named so
    // (they were "replayed"); the counters and numbers belong to an origin (a
    // real line's: empty), and a number names the run that took it. A recovery's
    // row names the run it recovered by its UUID once its station sends it again
    // (its own file's upgrade marks it to be sent).
    {4,
     "UPDATE velmora_runs SET origin = 'testbed' WHERE origin = 'replayed';"
     "ALTER TABLE velmora_serial_counters ADD COLUMN origin text NOT NULL DEFAULT '';"
     "ALTER TABLE velmora_serial_counters DROP CONSTRAINT velmora_serial_counters_pkey;"
     "ALTER TABLE velmora_serial_counters ADD PRIMARY KEY (origin, prefix);"
     "ALTER TABLE velmora_serial_numbers ADD COLUMN origin text NOT NULL DEFAULT '';"
     "ALTER TABLE velmora_serial_numbers ADD COLUMN run_uuid text NOT NULL DEFAULT '';"
     "ALTER TABLE velmora_serial_numbers DROP CONSTRAINT velmora_serial_numbers_prefix_number_key;"
     "ALTER TABLE velmora_serial_numbers ADD UNIQUE (origin, prefix, number);"
     "DROP INDEX velmora_serial_numbers_station;"
     "CREATE INDEX velmora_serial_numbers_station ON velmora_serial_numbers (origin, station, state);"},
    // 5: signed images, as the station file keeps them: the signature's state,
    // key ID and trusted comment, and the signed file's SHA-256 when the bytes
    // written differ from it.
    {5,
     "ALTER TABLE velmora_runs ADD COLUMN signature text NOT NULL DEFAULT '';"
     "ALTER TABLE velmora_runs ADD COLUMN signature_key text NOT NULL DEFAULT '';"
     "ALTER TABLE velmora_runs ADD COLUMN signature_comment text NOT NULL DEFAULT '';"
     "ALTER TABLE velmora_runs ADD COLUMN signed_sha256 text NOT NULL DEFAULT '';"},
    // 6: each row knows its server: the server the station named when the run was
    // written (without any password), the only one its station sends it to.
    // Rows taken before were sent without it.
    {6, "ALTER TABLE velmora_runs ADD COLUMN line_server text NOT NULL DEFAULT '';"},
    // 7: the unit's own ID (a label scanned at the station), NULL where none was given.
    {7,
     "ALTER TABLE velmora_runs ADD COLUMN unit_id text;"
     "CREATE INDEX velmora_runs_unit ON velmora_runs (unit_id) WHERE unit_id IS NOT NULL;"},
    // 8: the report's counts, kept by triggers as the rows arrive and first
    // made from the rows already taken.
    {8, "", serverReportCounts},
}};
static_assert(kServerLayoutSteps.back().version == kServerLayoutVersion,
              "every server layout version has its step");

}  // namespace velmora::history
