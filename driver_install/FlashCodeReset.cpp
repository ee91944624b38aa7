#include "driver_install/FlashCodeReset.h"

#include <optional>

#include "device/FlashOperations.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

namespace velmora::driver {
namespace {

// True only when the hub answers its status and says it runs its flash code.
bool runsFlashCode(HubConnection& connection) {
    if (!connection.isOpen() && !USB_OpenHub(connection)) return false;
    const std::optional<HubStatus> status = VC_ReadHubStatus(connection);
    return status && status->flashCode;
}

}  // namespace

HubResetOutcome FlashCodeReset::resetToFlashCode() {
    const HubResetOutcome outcome = reset();
    // Closed whatever happened, so a failed open or a hub that did not come back
    // leaves no connection behind.
    USB_CloseHub(connection_);
    return outcome;
}

HubResetOutcome FlashCodeReset::reset() {
    if (!USB_IsHubPresent(connection_)) return HubResetOutcome::NoHub;
    // A hub that cannot even be opened has not been touched: it is as it was.
    if (!USB_OpenHub(connection_)) return HubResetOutcome::NotOpened;
    if (FL_OpenRomDevice(connection_)) FL_ResetAndWait(flash::kResetToFlashCode, connection_);
    // Whichever step failed, what the user needs to know is where the hub ended.
    return runsFlashCode(connection_) ? HubResetOutcome::InFlashCode : HubResetOutcome::NotInFlashCode;
}

}  // namespace velmora::driver
