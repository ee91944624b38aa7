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

// The killed unit's number, and the rest of the block its station held, end
// void once the station's name starts again; the new station's numbers all lie
// beyond that block, and none is given twice.
void expectAKilledStationsNumbersStayVoid(const StationHistory& history);

}  // namespace velmora::testing
