#pragma once
// The multi-step flash operations: switching the hub between its flash code and
// its ROM code, erasing, and the chunking of image moves. They return true or
// false and never print; the workflows word every outcome.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "device/HubConnection.h"

namespace velmora::flash {
inline constexpr std::uint8_t kResetToRomCode = 0x21;
inline constexpr std::uint8_t kResetToFlashCode = 0x22;

inline constexpr std::size_t kTransferUnitBytes = 4096;
inline constexpr std::size_t kFlashPageBytes = 32768;

inline constexpr int kResetAttempts = 3;
inline constexpr Milliseconds kPauseAfterFailedReset{128};
inline constexpr int kReopenPolls = 20;
inline constexpr Milliseconds kReopenPollInterval{2000};
inline constexpr Milliseconds kFastReopenPollInterval{1000};  // reset to ROM code, wait selector 1
// Once the platform reports the hub back on its port after a reset, it gets this
// long before it is opened: the host has enumerated it, but its firmware may still
// be setting up the vendor requests behind the open handshake.
inline constexpr Milliseconds kArrivalSettleTime{50};
// How often a reset wait tells its observer how long it has waited.
inline constexpr Milliseconds kWaitReportInterval{250};
inline constexpr int kEraseAttempts = 3;
inline constexpr Milliseconds kPauseAfterErase{128};

// The length of the chunk at offset in an image of size bytes.
constexpr std::size_t chunkLength(std::size_t size, std::size_t offset) {
    return size - offset < kTransferUnitBytes ? size - offset : kTransferUnitBytes;
}
}  // namespace velmora::flash

bool FL_OpenRomDevice(velmora::HubConnection& connection);
bool FL_EraseFlash(velmora::HubConnection& connection);
// Waits for the restarted hub on the port it left from: up to kReopenPolls opens,
// one poll interval apart, as fixed waits would; the platform's report that the
// hub has arrived on that port brings an open forward (after kArrivalSettleTime),
// so the wait ends when the hub is back and never later than the fixed schedule.
bool FL_ResetAndWait(std::uint8_t resetCode, velmora::HubConnection& connection);
bool FL_SendReset(std::uint8_t resetCode, velmora::HubConnection& connection);

// Told after each chunk how many of the image's bytes have moved so far.
using FL_ChunkProgress = std::function<void(std::size_t done, std::size_t total)>;

// Images move to and from the flash in transfer units from address 0, the image
// offset doubling as the flash address; the last chunk is whatever remains. Both
// stop at the first chunk the hub refuses and return false.
bool FL_WriteImage(const std::uint8_t* bytes, std::size_t size, velmora::HubConnection& connection,
                   const FL_ChunkProgress& progress = {});
bool FL_ReadImage(std::uint8_t* destination, std::size_t size, velmora::HubConnection& connection,
                  const FL_ChunkProgress& progress = {});
