#pragma once
// The bookkeeping of a production station that updates every hub as it is
// plugged in. A unit is a port plus "its hub has not left that port except through
// our own resets": every unit gets the same image, so serial numbers cannot tell
// units apart, and a hub that is unplugged and plugged in again is a new unit.
// The station feeds it what it sees on the bus and how each run ended; it answers
// which units to start, judges each result, keeps the tally and says when the
// station is done. Safe to call from the station's loop and its workers at once.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/HubStatus.h"

namespace velmora {

struct StationSettings {
    std::optional<int> count;                    // stop after this many finished units
    std::optional<std::uint16_t> expectVersion;  // a unit passes only when it runs this version afterwards
};

struct StationTally {
    int passed = 0;
    int failed = 0;
    int inProgress = 0;
};

// How a unit's run ended, as the station judged it.
struct UnitVerdict {
    bool passed = false;
    // Why it failed when the run itself succeeded: the version it runs is not the
    // one expected. Empty otherwise.
    std::string versionMismatch;
};

// The station's state under the operator's interrupts: the first stops taking
// new units and lets the runs in progress finish; the second abandons them.
enum class StationStop { Running, Draining, Abandoning };

class StationUnits {
public:
    explicit StationUnits(StationSettings settings) : settings_(std::move(settings)) {}

    // The supported hubs present now, by port (a fresh listing, not events, so a
    // late event of an earlier reset cannot pass for a departure). Returns the
    // ports whose new units are to be started now; each is counted in progress.
    std::vector<std::string> observe(const std::vector<std::string>& presentPorts);

    // The run of the unit on port ended. statusAfter: the hub's status now, when it
    // could be read. hubPresent: whether the hub is on the bus at the end; a unit
    // whose hub is gone has left (it is a new unit if it comes back).
    UnitVerdict finish(const std::string& port, bool runSucceeded,
                       const std::optional<HubStatus>& statusAfter, bool hubPresent);

    // A unit observe() started could not be given what it needs (a serial number):
    // it is forgotten, as if never seen, and the station takes no new units (the
    // runs in progress finish). The station then ends with status 1.
    void withdrawAndHalt(const std::string& port);
    // The same without the halt: the operator stopped the station before the
    // unit could start.
    void withdraw(const std::string& port);

    // The operator's interrupt: Running becomes Draining, Draining Abandoning.
    StationStop interrupt();
    StationStop stop() const;
    // Whether a unit plugged in now would be started.
    bool takesNewUnits() const;

    // The ports whose runs are in progress, in port order.
    std::vector<std::string> inProgress() const;
    StationTally tally() const;
    // True when the station should end: --count units finished, or stopped by the
    // operator with nothing left running (or abandoned).
    bool done() const;
    // 0 when every finished unit passed and none was abandoned, else 1.
    int exitStatus() const;

private:
    enum class UnitState { Running, Finished };
    struct Unit {
        UnitState state = UnitState::Running;
        bool present = true;
    };

    bool takesNewUnitsLocked() const;
    void withdrawLocked(const std::string& port);

    StationSettings settings_;
    mutable std::mutex mutex_;
    std::map<std::string, Unit> units_;  // by port: the unit on it now
    StationTally tally_;
    int started_ = 0;
    int abandoned_ = 0;  // runs in progress when the operator abandoned them
    bool halted_ = false;
    StationStop stop_ = StationStop::Running;
};

}  // namespace velmora
