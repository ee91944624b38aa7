#pragma once
// The wait for a hub that was just reset: the poll schedule of the flash
// operations as the upper bound, ended early by the platform's report that the hub
// is back on its port. Used by FL_ResetAndWait; nothing else needs it.
#include <cstdint>
#include <optional>
#include <string>

#include "device/HubConnection.h"
#include "device/HubStatus.h"

namespace velmora {

struct HubReturnWait {
    std::uint8_t resetCode = 0;
    std::string portPath;              // the port the hub left from
    std::string leftKey;               // the platform's key of the device it left as
    std::uint64_t arrivalsBefore = 0;  // the platform's count for the port, taken before the reset
    Milliseconds pollInterval{0};
    // When set, every reopen also reads the hub's status into it (none when the
    // read fails). A hub opened at once on its arrival whose status cannot be read
    // yet is still starting: it is closed and polled again rather than judged by a
    // status it never gave. At a scheduled poll the open counts, as it always has.
    std::optional<HubStatus>* status = nullptr;
};

// True with the connection open to the hub on its port, false with nothing open.
bool waitForHubReturn(const HubReturnWait& wait, HubConnection& connection);

}  // namespace velmora
