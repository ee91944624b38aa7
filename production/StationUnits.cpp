#include "production/StationUnits.h"

#include <algorithm>

#include "app/TextFormat.h"
#include "production/PortOrder.h"

namespace velmora {

std::vector<std::string> StationUnits::observe(const std::vector<std::string>& presentPorts) {
    std::lock_guard lock(mutex_);
    const auto present = [&presentPorts](const std::string& port) {
        return std::find(presentPorts.begin(), presentPorts.end(), port) != presentPorts.end();
    };
    // A finished unit that is no longer there has left; a running one is only
    // away for one of our own resets.
    for (auto unit = units_.begin(); unit != units_.end();) {
        if (unit->second.state == UnitState::Finished && !present(unit->first)) {
            unit = units_.erase(unit);
        } else {
            ++unit;
        }
    }
    std::vector<std::string> starting;
    std::vector<std::string> ports = presentPorts;
    std::sort(ports.begin(), ports.end(), portBefore);
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    for (const std::string& port : ports) {
        if (units_.count(port) != 0 || !takesNewUnitsLocked()) continue;
        units_[port] = Unit{};
        ++started_;
        ++tally_.inProgress;
        starting.push_back(port);
    }
    return starting;
}

UnitVerdict StationUnits::finish(const std::string& port, bool runSucceeded,
                                 const std::optional<HubStatus>& statusAfter, bool hubPresent) {
    std::lock_guard lock(mutex_);
    UnitVerdict verdict{runSucceeded, {}};
    if (runSucceeded && settings_.expectVersion && runningVersion(statusAfter) != settings_.expectVersion) {
        verdict.passed = false;
        verdict.versionMismatch =
            formatText("runs version %s, not the expected %s", runningVersionText(statusAfter).c_str(),
                       hubVersionText(*settings_.expectVersion).c_str());
    }
    const auto unit = units_.find(port);
    if (unit == units_.end() || unit->second.state != UnitState::Running) return verdict;
    --tally_.inProgress;
    ++(verdict.passed ? tally_.passed : tally_.failed);
    if (hubPresent) {
        unit->second.state = UnitState::Finished;
    } else {
        units_.erase(unit);
    }
    return verdict;
}

void StationUnits::withdraw(const std::string& port) {
    std::lock_guard lock(mutex_);
    withdrawLocked(port);
}

void StationUnits::withdrawLocked(const std::string& port) {
    const auto unit = units_.find(port);
    if (unit != units_.end() && unit->second.state == UnitState::Running) {
        units_.erase(unit);
        --started_;
        --tally_.inProgress;
    }
}

void StationUnits::withdrawAndHalt(const std::string& port) {
    std::lock_guard lock(mutex_);
    withdrawLocked(port);
    halted_ = true;
    if (stop_ == StationStop::Running) stop_ = StationStop::Draining;
}

StationStop StationUnits::interrupt() {
    std::lock_guard lock(mutex_);
    stop_ = stop_ == StationStop::Running ? StationStop::Draining : StationStop::Abandoning;
    // Runs abandoned are no result: whatever they do afterwards, the station failed them.
    if (stop_ == StationStop::Abandoning && abandoned_ == 0) abandoned_ = tally_.inProgress;
    return stop_;
}

StationStop StationUnits::stop() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

bool StationUnits::takesNewUnits() const {
    std::lock_guard lock(mutex_);
    return takesNewUnitsLocked();
}

std::vector<std::string> StationUnits::inProgress() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ports;
    for (const auto& [port, unit] : units_) {
        if (unit.state == UnitState::Running) ports.push_back(port);
    }
    return ports;
}

StationTally StationUnits::tally() const {
    std::lock_guard lock(mutex_);
    return tally_;
}

bool StationUnits::done() const {
    std::lock_guard lock(mutex_);
    if (stop_ == StationStop::Abandoning) return true;
    if (tally_.inProgress > 0) return false;
    if (stop_ == StationStop::Draining) return true;
    return settings_.count && tally_.passed + tally_.failed >= *settings_.count;
}

int StationUnits::exitStatus() const {
    std::lock_guard lock(mutex_);
    return tally_.failed == 0 && abandoned_ == 0 && !halted_ ? 0 : 1;
}

bool StationUnits::takesNewUnitsLocked() const {
    if (stop_ != StationStop::Running) return false;
    // --count N: never more than N units started, so none is left half-done.
    return !settings_.count || started_ < *settings_.count;
}

}  // namespace velmora
