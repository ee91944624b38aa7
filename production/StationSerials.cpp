#include "production/StationSerials.h"

#include "app/TextFormat.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {

StationSerials::StationSerials(SerialNumberSource& source, SerialSettings settings)
    : source_(source), settings_(std::move(settings)) {}

StationSerials::~StationSerials() {
    std::string ignored;
    end(ignored);
}

bool StationSerials::begin(std::string& error) {
    std::lock_guard lock(mutex_);
    if (!source_.beginStation(settings_.station, error)) return false;
    begun_ = true;
    bool exhausted = false;
    if (reserveLocked(error, exhausted)) return true;
    if (exhausted) {
        error = formatText(messages::kSerialsUsedUpFormat, settings_.format.prefix.c_str(),
                           settings_.format.serialOf(settings_.format.lastNumber()).c_str());
    }
    std::string ignored;
    source_.endStation(settings_.station, ignored);
    begun_ = false;
    return false;
}

bool StationSerials::reserveLocked(std::string& error, bool& exhausted) {
    const std::optional<SerialBlock> block =
        source_.reserveBlock(settings_.station, settings_.format.prefix, settings_.start,
                             settings_.format.lastNumber(), settings_.block, error);
    if (!block) return false;
    exhausted = block->count == 0;
    for (std::uint64_t offset = 0; offset < block->count; ++offset) block_.push_back(block->first + offset);
    return !exhausted;
}

SerialTake StationSerials::take() {
    std::lock_guard lock(mutex_);
    flushLocked();
    SerialTake taken;
    if (block_.empty()) {
        std::string error;
        bool exhausted = false;
        if (!reserveLocked(error, exhausted)) {
            taken.stopLine =
                exhausted ? formatText(messages::kStationSerialsUsedUpFormat, settings_.format.prefix.c_str(),
                                       settings_.format.serialOf(settings_.format.lastNumber()).c_str())
                          : formatText(messages::kStationSerialsUnavailableFormat, error.c_str());
            return taken;
        }
    }
    taken.number = block_.front();
    block_.pop_front();
    taken.serial = settings_.format.serialOf(*taken.number);
    markLocked(*taken.number, SerialState::Issued, {});
    return taken;
}

void StationSerials::finish(std::uint64_t number, bool passed, const RunId& run) {
    std::lock_guard lock(mutex_);
    flushLocked();
    markLocked(number, passed ? SerialState::Used : SerialState::Void, run);
}

bool StationSerials::end(std::string& error) {
    std::lock_guard lock(mutex_);
    if (!begun_) return true;
    // Until every mark is written the station stays open, so that a later call
    // (the server back) can still record a passed unit's number as used: closing
    // first would void it.
    flushLocked();
    if (!waiting_.empty()) {
        error = formatText("%zu serial numbers' marks could not be written", waiting_.size());
        return false;
    }
    if (!source_.endStation(settings_.station, error)) return false;
    block_.clear();
    begun_ = false;
    return true;
}

void StationSerials::markLocked(std::uint64_t number, SerialState state, const RunId& run) {
    std::string error;
    if (!waiting_.empty() || !source_.markNumber(settings_.format.prefix, number, state, run, error))
        waiting_.push_back({number, state, run});
}

void StationSerials::flushLocked() {
    std::size_t written = 0;
    std::string error;
    while (written < waiting_.size() &&
           source_.markNumber(settings_.format.prefix, waiting_[written].number, waiting_[written].state,
                              waiting_[written].run, error))
        ++written;
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(written));
}

std::uint64_t StationSerials::left() {
    std::lock_guard lock(mutex_);
    return block_.size();
}

}  // namespace velmora
