#pragma once
// Whether an image file may be used, decided before any hub is touched: rules
// whose failure would otherwise show only once the flash has been erased, or once
// the hub has re-enumerated as something this program no longer finds. Both front
// ends ask admitImage and only present its answer.
#include <cstdint>
#include <string>

#include "app/SupportedDeviceTable.h"
#include "firmware/FirmwareBuffer.h"
#include "workflows/ImageSignature.h"

namespace velmora {

// Images are read whole; anything larger than this is no image of the hub's (its
// flash holds 32 KiB) and is refused before it is read.
inline constexpr long long kLargestImageFileBytes = 16LL * 1024 * 1024;

// What the image is for. Update: written into a hub's flash by the easy update or
// the station. Scalar: the production-line run's configured image, which the run
// loads itself. FlashPage: shown or edited, never written as it stands.
enum class ImageUse { Update, Scalar, FlashPage };

// Why an image is refused, in the order the rules are checked.
enum class ImageRefusal {
    None,
    Unreadable,            // cannot be opened, or is not a regular file
    Empty,                 // no bytes at all
    TooShort,              // fewer bytes than a configuration block
    TooLargeForFiles,      // over kLargestImageFileBytes
    LargerThanFlash,       // over the hub's 32768-byte flash (Update, Scalar)
    NoConfigurationBlock,  // no block found
    UnlistedIds,           // its IDs are not in the supported table (Update, Scalar)
    Signature,             // its signature refuses it (the composition root's rule)
};

struct ImageAdmission {
    ImageRefusal refusal = ImageRefusal::None;
    // The reason, naming the file, when refused.
    std::string reason;
    // The image, when admitted. A Scalar image that cannot be read or holds no
    // block is admitted unloaded: the run itself then says "Wrong firmware file",
    // as the window's does.
    FirmwareBuffer image;
    // For an image to be written: its signature as judged from these very bytes.
    ImageSignature signature;

    bool admitted() const { return refusal == ImageRefusal::None; }
};

// The one decision on an image file: loads it and applies the rules for its use.
// The IDs are checked against table for Update and Scalar unless allowNewIds.
ImageAdmission admitImage(const std::string& path, const SupportedDeviceTable& table, ImageUse use,
                          bool allowNewIds = false);

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
