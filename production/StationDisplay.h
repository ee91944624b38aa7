#pragma once
// What a front end shows of a station's units: one report per unit as it
// starts, moves through its phases and ends, and the ports a supported hub is on
// at each look at the bus (so a finished unit still plugged in can be told to be
// removed). The calls come from the station's loop and its unit runs at once and
// lie on a unit's path: each must be quick and never wait on the front end.
#include <string>
#include <vector>

namespace velmora {

enum class UnitState { Running, Passed, Failed };

struct UnitReport {
    std::string port;
    UnitState state = UnitState::Running;
    std::string phase;          // the phase running, by name; empty before the first
    double progress = 0;        // the run's progress, 0 to 100
    std::string unitId;         // the ID scanned for the unit; empty: none
    std::string serial;         // the serial number the station gave it; empty: none
    std::string versionBefore;  // as runningVersionText words it; empty: not read yet
    std::string versionAfter;   // empty: not read (a failed run's hub is not asked again)
    double seconds = 0;         // since the unit started, on the station's clock
    std::string failure;        // for a failed unit: why, in one line
};

class StationDisplay {
public:
    virtual ~StationDisplay() = default;
    virtual void unitReported(const UnitReport& report) = 0;
    // The ports a supported hub is on now, at each of the station's looks.
    virtual void portsPresent(const std::vector<std::string>& ports) = 0;
};

}  // namespace velmora
