#include "workflows/FlashBackup.h"

#include <cstdint>
#include <vector>

#include "device/FlashOperations.h"
#include "firmware/FirmwareBuffer.h"
#include "history/IsoTime.h"
#include "workflows/EasyUpdate.h"

namespace velmora {
namespace {

bool readWholeFlash(HubConnection& connection, std::vector<std::uint8_t>& contents) {
    contents.assign(flash::kFlashPageBytes, 0);
    return FL_ReadImage(contents.data(), contents.size(), connection);
}

}  // namespace

std::optional<history::BackupEntry> takeFlashBackup(HubConnection& connection, history::BackupStore& store,
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
    history::BackupEntry entry;
    entry.runId = history::newRunId();
    entry.time = history::isoUtc(history::wallNow());
    entry.port = connection.openPortPath();
    FirmwareBuffer image;
    if (FW_Parse(image, first.data(), static_cast<std::int64_t>(first.size()))) {
        const ImageIdentity identity = identityOf(image);
        entry.hubIds = identity.vid + ":" + identity.sspid + ":" + identity.hspid;
        entry.version = identity.version;
        entry.serial = identity.serial;
    }
    if (!store.store(first, entry, problem)) return std::nullopt;
    return entry;
}

}  // namespace velmora
