#pragma once
// The backup a run takes before it erases: the whole flash, read twice in ROM code
// and kept only when both reads agree, so a flaky read never becomes the backup.
#include <optional>
#include <string>

#include "device/HubConnection.h"
#include "history/BackupStore.h"

namespace velmora {

// With the hub open in its ROM code: reads, compares and stores the flash, with an
// index entry naming the hub's port and what the flash's block says of itself.
// The entry stored, or nothing with problem saying why.
std::optional<history::BackupEntry> takeFlashBackup(HubConnection& connection, history::BackupStore& store,
                                                    std::string& problem);

}  // namespace velmora
