#pragma once
// The rules an image file must meet before a command uses it, each checked before
// the file is read or the hub is touched: its size, and the IDs it gives the hub.
#include <string>

#include "app/SupportedDeviceTable.h"
#include "firmware/FirmwareBuffer.h"

namespace velmora::cli {

// Image commands read whole files; anything larger than this is no image of the
// hub's (its flash holds 32 KiB) and is refused before it is read.
inline constexpr long long kLargestImageFileBytes = 16LL * 1024 * 1024;

// What the image is for: shown or edited, or written into a hub's flash.
enum class ImageUse { Edit, Flash };

// The size rules: any image up to kLargestImageFileBytes, and an image for the
// flash no larger than the flash. False with error saying why.
bool imageSizeAllowed(const std::string& path, long long size, ImageUse use, std::string& error);

// False, with error naming the IDs, when the loaded image would make the hub come
// back from an update under IDs the table does not list, unless allowNewIds.
bool imageIdsAllowed(const std::string& path, const FirmwareBuffer& image, const SupportedDeviceTable& table,
                     bool allowNewIds, std::string& error);

// The scalar run's configured image, checked as update checks its file. A file
// that cannot be read or holds no image passes: the run itself then says "Wrong
// firmware file", as the window's does.
bool scalarImageAllowed(const std::string& path, const SupportedDeviceTable& table, bool allowNewIds,
                        std::string& error);

}  // namespace velmora::cli
