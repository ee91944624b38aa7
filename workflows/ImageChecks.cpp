#include "workflows/ImageChecks.h"

#include "device/FlashOperations.h"
#include "workflows/TextFormat.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

std::uint16_t wordAt(const FirmwareBuffer& image, std::size_t position) {
    // Identity words are stored high byte first.
    return static_cast<std::uint16_t>(image.data.at(position) << 8 | image.data.at(position + 1));
}

}  // namespace

bool fitsTheFlash(std::int64_t imageBytes) {
    return imageBytes <= static_cast<std::int64_t>(flash::kFlashPageBytes);
}

std::string largerThanFlash(const std::string& name, std::int64_t imageBytes) {
    return formatText(messages::kImageLargerThanFlashFormat, name.c_str(), static_cast<long long>(imageBytes),
                      flash::kFlashPageBytes);
}

ImageIds imageIdsOf(const FirmwareBuffer& image) {
    return {wordAt(image, image.vid), wordAt(image, image.sspid), wordAt(image, image.hspid)};
}

bool idsAreListed(const ImageIds& ids, const SupportedDeviceTable& table) {
    return table.IsSupportedHub(ids.vid, ids.sspid) && table.IsSupportedHub(ids.vid, ids.hspid);
}

}  // namespace velmora
