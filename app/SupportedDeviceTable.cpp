#include "app/SupportedDeviceTable.h"

namespace velmora {

void SupportedDeviceTable::set(std::size_t index, std::uint16_t vid, std::uint16_t sspid,
                               std::uint16_t hspid) {
    entries_.at(index) = SupportedDevice{1, vid, sspid, hspid};
}

bool SupportedDeviceTable::IsSupportedHub(std::uint16_t vid, std::uint16_t pid) const {
    for (const SupportedDevice& entry : entries_) {
        if (entry.valid == 1 && entry.vid == vid && (entry.sspid == pid || entry.hspid == pid)) {
            return true;
        }
    }
    return false;
}

const SupportedDevice* SupportedDeviceTable::firstValid() const {
    for (const SupportedDevice& entry : entries_) {
        if (entry.valid == 1) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace velmora
