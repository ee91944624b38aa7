#include "workflows/ImageChecks.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/SafeFile.h"
#include "app/TextFormat.h"
#include "device/FlashOperations.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

std::uint16_t wordAt(const FirmwareBuffer& image, std::size_t position) {
    // Identity words are stored high byte first.
    return static_cast<std::uint16_t>(image.data.at(position) << 8 | image.data.at(position + 1));
}

ImageAdmission refused(ImageRefusal refusal, std::string reason) {
    ImageAdmission admission;
    admission.refusal = refusal;
    admission.reason = std::move(reason);
    return admission;
}

// The file is opened as the loader will open it: a regular file, without blocking.
// Its size, or nothing with error saying why it cannot be read.
bool regularFileSize(const std::string& path, long long& size, std::string& error) {
    struct stat status {};
    const int descriptor = openRegularFile(path, error, &status);
    if (descriptor < 0) return false;
    ::close(descriptor);
    size = static_cast<long long>(status.st_size);
    return true;
}

// The size rules, in the order the command line has always reported them.
ImageRefusal sizeRefusal(const std::string& path, long long size, ImageUse use, std::string& reason) {
    const bool forFlash = use != ImageUse::FlashPage;
    // A scalar image that is not one at all is left to the run, which says so.
    if (use != ImageUse::Scalar) {
        if (size == 0) {
            reason = formatText(messages::kEmptyImageFormat, path.c_str());
            return ImageRefusal::Empty;
        }
        if (static_cast<std::size_t>(size) < image::kMinimumImageBytes) {
            reason = formatText(messages::kShortImageFormat, path.c_str(), size, image::kMinimumImageBytes);
            return ImageRefusal::TooShort;
        }
    }
    if (forFlash && !fitsTheFlash(size)) {
        reason = largerThanFlash(path, size);
        return ImageRefusal::LargerThanFlash;
    }
    if (size > kLargestImageFileBytes) {
        reason = formatText(messages::kImageFileTooLargeFormat, path.c_str(), size,
                            kLargestImageFileBytes / (1024 * 1024));
        return ImageRefusal::TooLargeForFiles;
    }
    return ImageRefusal::None;
}

}  // namespace

ImageAdmission admitImage(const std::string& path, const SupportedDeviceTable& table, ImageUse use,
                          bool allowNewIds) {
    long long size = 0;
    std::string error;
    if (!regularFileSize(path, size, error)) {
        if (use == ImageUse::Scalar) return {};
        return refused(ImageRefusal::Unreadable,
                       formatText(messages::kCannotReadFormat, path.c_str(), error.c_str()));
    }
    std::string reason;
    if (const ImageRefusal refusal = sizeRefusal(path, size, use, reason); refusal != ImageRefusal::None)
        return refused(refusal, reason);
    ImageAdmission admission;
    if (!FW_LoadFile(admission.image, path) || !admission.image.loaded) {
        if (use == ImageUse::Scalar) return {};
        return refused(ImageRefusal::NoConfigurationBlock,
                       formatText(messages::kNoConfigurationBlockFormat, path.c_str()));
    }
    if (use == ImageUse::FlashPage || allowNewIds) return admission;
    const ImageIds ids = imageIdsOf(admission.image);
    if (idsAreListed(ids, table)) return admission;
    return refused(ImageRefusal::UnlistedIds, formatText(messages::kUnlistedImageIdsFormat, path.c_str(),
                                                         ids.vid, ids.sspid, ids.vid, ids.hspid));
}

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
