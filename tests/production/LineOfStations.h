#pragma once
// A line of stations built as the command line builds each one: the composition
// root (HubEnvironment) on the eight-hubs simulated bus in virtual time, with the
// history and the serial numbers it opens for what --history names, a station's
// own file or the line's server. The same checks hold on either history.
#include <functional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/SerialCounter.h"

namespace velmora::testing {

// Where the line keeps its history, and how a test reads it back afterwards.
struct LineHistory {
    std::string history;  // what each station's --history names
    std::function<std::vector<history::HistoryRecord>()> runs;
    std::function<std::vector<history::SerialNumberRow>(const std::string& prefix)> numbers;
};

// Four stations of eight hubs each, running at once on one history, one hub of
// each failing its verify: every serial is given once, every number taken ends
// used by a passed unit or void, the history holds one row per unit, and the
// hubs report the numbers the history holds.
void expectFourStationsNeverGiveANumberTwice(const LineHistory& line);

}  // namespace velmora::testing
