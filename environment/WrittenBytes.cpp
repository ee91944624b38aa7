#include "environment/WrittenBytes.h"

#include <algorithm>

#include "app/TextFormat.h"
#include "device/FlashOperations.h"
#include "environment/EnvironmentMessages.h"
#include "firmware/ImageLayout.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

BytesAdmission refused(ImageRefusal refusal, std::string reason) {
    BytesAdmission admission;
    admission.refusal = refusal;
    admission.reason = std::move(reason);
    return admission;
}

// The size rules of an image file, on bytes already in memory.
ImageRefusal sizeRefusal(const BytesToWrite& request, std::string& reason) {
    const std::size_t size = request.bytes.size();
    const char* name = request.name.c_str();
    if (size == 0) {
        reason = formatText(messages::kEmptyImageFormat, name);
        return ImageRefusal::Empty;
    }
    if (size < image::kMinimumImageBytes) {
        reason = formatText(messages::kShortImageFormat, name, static_cast<long long>(size),
                            image::kMinimumImageBytes);
        return ImageRefusal::TooShort;
    }
    if (!fitsTheFlash(static_cast<std::int64_t>(size))) {
        reason = largerThanFlash(request.name, static_cast<std::int64_t>(size));
        return ImageRefusal::LargerThanFlash;
    }
    return ImageRefusal::None;
}

}  // namespace

BytesContent contentOf(const std::vector<std::uint8_t>& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0xFF; }))
        return BytesContent::Blank;
    FirmwareBuffer parsed;
    return FW_Parse(parsed, bytes.data(), static_cast<std::int64_t>(bytes.size())) ? BytesContent::Firmware
                                                                                   : BytesContent::Blockless;
}

BytesAdmission admitWrittenBytes(const BytesToWrite& request, const SupportedDeviceTable& table) {
    std::string reason;
    if (const ImageRefusal refusal = sizeRefusal(request, reason); refusal != ImageRefusal::None)
        return refused(refusal, reason);
    BytesAdmission admission;
    admission.content = contentOf(request.bytes);
    if (admission.content != BytesContent::Firmware) {
        // A flash without firmware comes back only as the whole flash it was: a
        // file of another size (a password file, say) is no backup of one.
        if (request.bytes.size() != flash::kFlashPageBytes)
            return refused(ImageRefusal::NoConfigurationBlock,
                           formatText(messages::kBlocklessNoBackupFormat, request.name.c_str(),
                                      request.bytes.size(), flash::kFlashPageBytes));
        if (!request.blocklessConfirmed)
            return refused(
                ImageRefusal::NoConfigurationBlock,
                formatText(admission.content == BytesContent::Blank ? messages::kBlankBytesFormat
                                                                    : messages::kBlocklessBytesFormat,
                           request.name.c_str()));
        // Written back as they are: the hub stays in its ROM code, as it was.
        admission.image.data = request.bytes;
        admission.image.size = static_cast<std::int32_t>(request.bytes.size());
        admission.image.loaded = true;
        return admission;
    }
    FW_Parse(admission.image, request.bytes.data(), static_cast<std::int64_t>(request.bytes.size()));
    if (request.allowNewIds) return admission;
    const ImageIds ids = imageIdsOf(admission.image);
    if (idsAreListed(ids, table)) return admission;
    return refused(ImageRefusal::UnlistedIds,
                   formatText(messages::kUnlistedImageIdsFormat, request.name.c_str(), ids.vid, ids.sspid,
                              ids.vid, ids.hspid));
}

}  // namespace velmora
