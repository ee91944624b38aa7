#include "device/HubReturn.h"

#include <algorithm>

#include "device/FlashOperations.h"
#include "device/VendorCommands.h"

namespace velmora {
namespace {

class ReturnWait {
public:
    ReturnWait(const HubReturnWait& wait, HubConnection& connection)
        : wait_(wait),
          connection_(connection),
          clock_(connection.clock()),
          platform_(connection.platform()),
          start_(clock_.now()),
          seen_(wait.arrivalsBefore) {}

    bool run() {
        for (int poll = 1; poll <= flash::kReopenPolls; ++poll) {
            const Milliseconds scheduled = start_ + poll * wait_.pollInterval;
            if (untilScheduled(scheduled) || reopen(false)) return ended(true);
        }
        return ended(false);
    }

private:
    // Opens brought forward by arrivals, until the scheduled poll is due; true
    // when one of them reached the hub.
    bool untilScheduled(Milliseconds scheduled) {
        for (;;) {
            const bool arrived = platform_.waitForArrival(wait_.portPath, seen_, nextStop(scheduled), clock_);
            report(false);
            const Milliseconds now = clock_.now();
            if (!arrived) {
                if (now >= scheduled) return false;
                continue;
            }
            seen_ = platform_.arrivalsAt(wait_.portPath);
            // Too close to the scheduled poll for a settle time of its own: that poll comes first.
            if (scheduled - now <= flash::kArrivalSettleTime) {
                clock_.sleepFor(scheduled - now);
                return false;
            }
            clock_.sleepFor(flash::kArrivalSettleTime);
            if (reopen(true)) return true;
        }
    }

    // Stops now and then to tell the observer the time so far, on the wall clock
    // only: in virtual time nobody watches, and the waits keep their own shape.
    Milliseconds nextStop(Milliseconds scheduled) const {
        if (!connection_.waitObserver() || !clock_.isWallClock()) return scheduled;
        return std::min(scheduled, clock_.now() + flash::kWaitReportInterval);
    }

    bool reopen(bool onArrival) {
        if (!connection_.openHubAt(wait_.portPath, wait_.leftKey)) return false;
        if (wait_.status == nullptr) return true;
        *wait_.status = VC_ReadHubStatus(connection_);
        if (wait_.status->has_value() || !onArrival) return true;
        connection_.closeHub();
        return false;
    }

    void report(bool ended) const {
        if (const auto& observer = connection_.waitObserver())
            observer({wait_.resetCode, clock_.now() - start_, ended});
    }

    bool ended(bool back) const {
        report(true);
        return back;
    }

    const HubReturnWait& wait_;
    HubConnection& connection_;
    Clock& clock_;
    UsbPlatform& platform_;
    const Milliseconds start_;
    std::uint64_t seen_;
};

}  // namespace

bool waitForHubReturn(const HubReturnWait& wait, HubConnection& connection) {
    return ReturnWait(wait, connection).run();
}

}  // namespace velmora
