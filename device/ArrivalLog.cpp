#include "device/ArrivalLog.h"

namespace velmora {

void ArrivalLog::noteArrival(const std::string& portPath) {
    std::lock_guard lock(mutex_);
    ++arrivals_[portPath];
}

std::uint64_t ArrivalLog::arrivalsAt(const std::string& portPath) const {
    std::lock_guard lock(mutex_);
    const auto found = arrivals_.find(portPath);
    return found == arrivals_.end() ? 0 : found->second;
}

}  // namespace velmora
