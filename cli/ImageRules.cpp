#include "cli/ImageRules.h"

#include <sys/stat.h>

#include "cli/CliText.h"
#include "workflows/ImageChecks.h"

namespace velmora::cli {

bool imageSizeAllowed(const std::string& path, long long size, ImageUse use, std::string& error) {
    if (use == ImageUse::Flash && !fitsTheFlash(size)) {
        error = largerThanFlash(path, size);
        return false;
    }
    if (size > kLargestImageFileBytes) {
        error = text::imageFileTooLarge(path, size, kLargestImageFileBytes);
        return false;
    }
    return true;
}

bool imageIdsAllowed(const std::string& path, const FirmwareBuffer& image, const SupportedDeviceTable& table,
                     bool allowNewIds, std::string& error) {
    if (allowNewIds || !image.loaded) return true;
    const ImageIds ids = imageIdsOf(image);
    if (idsAreListed(ids, table)) return true;
    error = text::unlistedImageIds(path, ids.vid, ids.sspid, ids.hspid);
    return false;
}

bool scalarImageAllowed(const std::string& path, const SupportedDeviceTable& table, bool allowNewIds,
                        std::string& error) {
    struct stat status {};
    // Only a regular file is looked at here: anything else is left to the run.
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return true;
    if (!imageSizeAllowed(path, static_cast<long long>(status.st_size), ImageUse::Flash, error)) return false;
    FirmwareBuffer image;
    FW_LoadFile(image, path);
    return imageIdsAllowed(path, image, table, allowNewIds, error);
}

}  // namespace velmora::cli
