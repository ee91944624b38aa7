#pragma once
// A station killed in the middle of a unit, then started again under its name:
// real velmora-cli processes on simulated hubs, on whichever history a test
// names. The same checks hold on a station's own file and on a line's server.
#include <functional>
#include <string>
#include <vector>

#include "history/SerialCounter.h"

namespace velmora::testing {

struct StationHistory {
    std::vector<std::string> arguments;  // the words that name the history: --history H
    std::function<std::vector<history::SerialNumberRow>(const std::string& prefix)> numbers;
};

// The killed unit's number, and the rest of the block its station held, are
// voided as soon as a station of the name starts again, before its first unit;
// that station's numbers all lie beyond the block (it is killed in a unit too,
// then a third start runs to its end), and none is given twice.
void expectAKilledStationsNumbersStayVoid(const StationHistory& history);

}  // namespace velmora::testing
