#include "workflows/FlashBackup.h"

#include <cstdint>
#include <vector>

#include "device/FlashOperations.h"
#include "firmware/FirmwareBuffer.h"
#include "workflows/EasyUpdate.h"

namespace velmora {
namespace {

bool readWholeFlash(HubConnection& connection, std::vector<std::uint8_t>& contents) {
    contents.assign(flash::kFlashPageBytes, 0);
    return FL_ReadImage(contents.data(), contents.size(), connection);
}

}  // namespace

std::optional<KeptBackup> takeFlashBackup(HubConnection& connection, FlashBackups& backups, const RunId& run,
                                          std::string& problem) {
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
    if (!readWholeFlash(connection, first) || !readWholeFlash(connection, second)) {
        problem = "the flash cannot be read";
        return std::nullopt;
    }
    if (first != second) {
        problem = "two reads of the flash differ";
        return std::nullopt;
    }
    FlashBackupInfo info;
    info.run = run;
    info.port = connection.openPortPath();
    FirmwareBuffer image;
    if (FW_Parse(image, first.data(), static_cast<std::int64_t>(first.size()))) {
        const ImageIdentity identity = identityOf(image);
        info.hubIds = identity.vid + ":" + identity.sspid + ":" + identity.hspid;
        info.version = identity.version;
        info.serial = identity.serial;
    }
    return backups.keep(first, info, problem);
}

}  // namespace velmora
