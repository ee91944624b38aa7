#pragma once
// The one rule for bytes about to be written into a hub's flash that did not
// come through an image file's admission: a backup written back by restore or
// recover, or any bytes a plan says it writes. The hub must come back from them
// as something this program finds again and that runs what was written: a
// firmware image (a configuration block, IDs the configuration lists) that fits
// the flash. Bytes without a block (a backup of a flash that was already blank,
// or erased halfway) leave the hub in its ROM code; they are written only when
// the user named them and confirmed that.
#include <cstdint>
#include <string>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "firmware/FirmwareBuffer.h"
#include "workflows/ImageChecks.h"

namespace velmora {

// What the bytes hold.
enum class BytesContent {
    Firmware,   // a configuration block: the hub boots them as its flash code
    Blockless,  // no block: the hub stays in its ROM code after them
    Blank,      // every byte erased (FF): a flash that was already blank
};

struct BytesToWrite {
    std::string name;  // how the reasons name them: a file, or a kept backup
    std::vector<std::uint8_t> bytes;
    // The user named these very bytes and confirmed they hold no firmware.
    bool blocklessConfirmed = false;
    bool allowNewIds = false;  // --allow-new-ids: IDs the configuration does not list
};

struct BytesAdmission {
    ImageRefusal refusal = ImageRefusal::None;
    std::string reason;    // naming the bytes, when refused
    FirmwareBuffer image;  // as the update run writes them, when admitted
    BytesContent content = BytesContent::Firmware;
    bool admitted() const { return refusal == ImageRefusal::None; }
};

BytesContent contentOf(const std::vector<std::uint8_t>& bytes);

// The decision, against the configuration's table (the IDs the hub comes back with).
BytesAdmission admitWrittenBytes(const BytesToWrite& request, const SupportedDeviceTable& table);

}  // namespace velmora
