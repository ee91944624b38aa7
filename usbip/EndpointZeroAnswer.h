#pragma once
// What the server sends back for one control transfer of a device it presents.
#include <cerrno>
#include <cstdint>
#include <vector>

namespace velmora::usbip {

struct EndpointZeroAnswer {
    // 0 or a negative errno for the URB (-EPIPE for a stall, -ENODEV for a hub
    // that left the bus).
    std::int32_t status = 0;
    // The transfer stays in flight, unanswered, as with a hub that never replies:
    // the host's timeout takes it back with an unlink.
    bool unanswered = false;
    // The data stage: for a device-to-host request, what the hub sent (its size is
    // the actual length); for a host-to-device one, empty.
    std::vector<std::uint8_t> data;
    std::int32_t actualLength = 0;
};

inline EndpointZeroAnswer stalled() {
    EndpointZeroAnswer result;
    result.status = -EPIPE;
    return result;
}

// A device-to-host answer: what there is, cut to what was asked for.
inline EndpointZeroAnswer sent(std::vector<std::uint8_t> bytes, std::uint16_t wLength) {
    if (bytes.size() > wLength) bytes.resize(wLength);
    EndpointZeroAnswer result;
    result.actualLength = static_cast<std::int32_t>(bytes.size());
    result.data = std::move(bytes);
    return result;
}

inline EndpointZeroAnswer accepted() {
    return {};
}

}  // namespace velmora::usbip
