#pragma once
// Arrivals of devices, counted per USB port. A hub that resets leaves the bus and
// comes back on the same port; whoever waits for it takes the count before the
// reset and waits for it to grow, so an arrival that comes before the wait starts
// (a quick reboot) is not missed. Filled on whichever thread handles the
// platform's events, read by the waiters.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace velmora {

class ArrivalLog {
public:
    void noteArrival(const std::string& portPath);
    std::uint64_t arrivalsAt(const std::string& portPath) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t> arrivals_;
};

}  // namespace velmora
