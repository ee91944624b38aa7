#pragma once
// The backup a run takes before it erases: the whole flash, read twice in ROM code
// and kept only when both reads agree, so a flaky read never becomes the backup.
#include <optional>
#include <string>

#include "device/HubConnection.h"
#include "workflows/FlashBackups.h"

namespace velmora {

// With the hub open in its ROM code: reads, compares and keeps the flash as the
// run's backup, with the hub's port and what the flash's block says of itself.
// Nothing, with problem saying why, when it cannot be kept.
std::optional<KeptBackup> takeFlashBackup(HubConnection& connection, FlashBackups& backups, const RunId& run,
                                          std::string& problem);

}  // namespace velmora
