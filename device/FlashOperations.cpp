#include "device/FlashOperations.h"

#include <optional>
#include <string>

#include "device/HubReturn.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

using namespace velmora;

namespace {

// The wait selector is read before a reset to ROM code; a failed read counts as 0.
std::uint8_t readWaitSelector(HubConnection& connection) {
    const std::optional<HubStatus> status = VC_ReadHubStatus(connection);
    return status ? status->waitSelector : 0;
}

Milliseconds pollInterval(std::uint8_t resetCode, std::uint8_t waitSelector) {
    if (resetCode == flash::kResetToRomCode && waitSelector == 1) return flash::kFastReopenPollInterval;
    return flash::kReopenPollInterval;
}

// Calls transfer(offset, length) for each chunk in order and stops at the first
// that does not succeed.
template <typename Transfer>
bool transferChunks(std::size_t size, const FL_ChunkProgress& progress, Transfer transfer) {
    for (std::size_t offset = 0; offset < size;) {
        const std::size_t length = flash::chunkLength(size, offset);
        if (transfer(static_cast<std::uint32_t>(offset), offset, static_cast<std::uint16_t>(length)) !=
            kIOReturnSuccess)
            return false;
        offset += length;
        if (progress) progress(offset, size);
    }
    return true;
}

IOReturn sendResetRequest(std::uint8_t resetCode, HubConnection& connection) {
    return resetCode == flash::kResetToRomCode ? VC_ResetToRomCode(connection)
                                               : VC_ResetToFlashCode(connection);
}

// The reset and the wait; with status set, the reopen reads the hub's status too.
bool resetAndWait(std::uint8_t resetCode, HubConnection& connection,
                  std::optional<HubStatus>* status = nullptr) {
    std::uint8_t waitSelector = 0;
    if (resetCode == flash::kResetToRomCode) waitSelector = readWaitSelector(connection);
    // The hub comes back on the port it left from; with several hubs attached, a
    // reopen of whichever is listed first could go on with a hub never reset.
    HubReturnWait wait;
    wait.resetCode = resetCode;
    wait.portPath = connection.openPortPath();
    wait.leftKey = connection.openPlatformKey();
    // Counted before the reset: a hub that is back before the wait begins still counts.
    wait.arrivalsBefore = connection.platform().arrivalsAt(wait.portPath);
    wait.pollInterval = pollInterval(resetCode, waitSelector);
    wait.status = status;
    if (!FL_SendReset(resetCode, connection)) return false;
    return waitForHubReturn(wait, connection);
}

}  // namespace

bool FL_OpenRomDevice(HubConnection& connection) {
    if (!USB_OpenHub(connection)) return false;
    if (VC_IsRomMode(connection)) return true;
    // The status read with the reopen says which code the hub came back in; one
    // that could not be read means not the ROM code.
    std::optional<HubStatus> status;
    if (!resetAndWait(flash::kResetToRomCode, connection, &status)) return false;
    if (status && !status->flashCode) return true;
    USB_CloseHub(connection);
    return false;
}

bool FL_EraseFlash(HubConnection& connection) {
    for (int attempt = 0; attempt < flash::kEraseAttempts; ++attempt) {
        const IOReturn status = VC_EraseFlash(0, connection);
        // The hub needs the pause after an erase whether or not the request reported success.
        connection.clock().sleepFor(flash::kPauseAfterErase);
        if (status == kIOReturnSuccess) return true;
    }
    return false;
}

bool FL_ResetAndWait(std::uint8_t resetCode, HubConnection& connection) {
    return resetAndWait(resetCode, connection);
}

bool FL_SendReset(std::uint8_t resetCode, HubConnection& connection) {
    bool sent = false;
    if (resetCode == flash::kResetToRomCode || resetCode == flash::kResetToFlashCode) {
        for (int attempt = 0; attempt < flash::kResetAttempts && !sent; ++attempt) {
            sent = sendResetRequest(resetCode, connection) == kIOReturnSuccess;
            if (!sent) connection.clock().sleepFor(flash::kPauseAfterFailedReset);
        }
    }
    // The hub is about to leave the bus, so the connection is stale either way.
    USB_CloseHub(connection);
    return sent;
}

bool FL_WriteImage(const std::uint8_t* bytes, std::size_t size, HubConnection& connection,
                   const FL_ChunkProgress& progress) {
    return transferChunks(size, progress,
                          [&](std::uint32_t address, std::size_t offset, std::uint16_t length) {
                              return VC_WriteFlash(address, bytes + offset, length, connection);
                          });
}

bool FL_ReadImage(std::uint8_t* destination, std::size_t size, HubConnection& connection,
                  const FL_ChunkProgress& progress) {
    return transferChunks(size, progress,
                          [&](std::uint32_t address, std::size_t offset, std::uint16_t length) {
                              return VC_ReadFlash(address, destination + offset, length, connection);
                          });
}
