#pragma once
// The hubs this program may drive: 64 entries of VID and the two product IDs of
// the hub's SuperSpeed and High-Speed parts, filled once from config.ini.
#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora {

struct SupportedDevice {
    std::uint16_t valid = 0;
    std::uint16_t vid = 0;
    std::uint16_t sspid = 0;
    std::uint16_t hspid = 0;
};

class SupportedDeviceTable {
public:
    static constexpr std::size_t kEntryCount = 64;

    void clear() { entries_ = {}; }
    void set(std::size_t index, std::uint16_t vid, std::uint16_t sspid, std::uint16_t hspid);
    const SupportedDevice& entry(std::size_t index) const { return entries_.at(index); }
    const std::array<SupportedDevice, kEntryCount>& entries() const { return entries_; }

    // True when a valid entry has this VID and the PID is its SSPID or its HSPID.
    bool IsSupportedHub(std::uint16_t vid, std::uint16_t pid) const;
    // The first valid entry, or null when the table is empty.
    const SupportedDevice* firstValid() const;

private:
    std::array<SupportedDevice, kEntryCount> entries_{};
};

}  // namespace velmora
