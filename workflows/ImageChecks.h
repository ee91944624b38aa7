#pragma once
// Checks on an image before any hub is touched: rules whose failure would
// otherwise show only once the flash has been erased, or once the hub has
// re-enumerated as something this program no longer finds.
#include <cstdint>
#include <string>

#include "app/SupportedDeviceTable.h"
#include "firmware/FirmwareBuffer.h"

namespace velmora {

// True when an image of this many bytes fits the hub's flash. A larger one would
// be found out only after the erase, leaving the hub in ROM code with part of it.
bool fitsTheFlash(std::int64_t imageBytes);

// "NAME is N bytes, larger than the hub's 32768-byte flash".
std::string largerThanFlash(const std::string& name, std::int64_t imageBytes);

// The identity a loaded image gives the hub once it runs the image's flash code.
struct ImageIds {
    std::uint16_t vid = 0;
    std::uint16_t sspid = 0;
    std::uint16_t hspid = 0;
};
ImageIds imageIdsOf(const FirmwareBuffer& image);

// True when the table lists both product IDs of the image with its VID: the hub
// boots its flash code under those IDs (SuperSpeed or High-Speed), and a hub whose
// IDs are not listed is no longer found after the update.
bool idsAreListed(const ImageIds& ids, const SupportedDeviceTable& table);

}  // namespace velmora
