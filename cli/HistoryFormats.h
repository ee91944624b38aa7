#pragma once
// The three ways `history` prints the recorded runs.
#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/HistoryReport.h"

namespace velmora::cli {

// One line per run for a terminal: start, operation, port, result, versions,
// image and failure; texts from images and paths without control characters.
std::string historyTable(const std::vector<history::HistoryRecord>& runs);
// A header and one row per run with every field (RFC 4180 quoting). A field that a
// spreadsheet would run as a formula (from a crafted image's serial or path) is
// written with a leading apostrophe.
std::string historyCsv(const std::vector<history::HistoryRecord>& runs);
// An array of one object per run; phases as an object of milliseconds (null for
// the phase a cut-off run was in); the station, run UUID, origin and server time too.
std::string historyJson(const std::vector<history::HistoryRecord>& runs);

// `history report`: a line per group ("erase: units 8, passed 7, ...").
std::string reportTable(const std::vector<history::ReportLine>& report, history::ReportGrouping by);
// The same as an array of objects, the group under the grouping's name.
std::string reportJson(const std::vector<history::ReportLine>& report, history::ReportGrouping by);

}  // namespace velmora::cli
