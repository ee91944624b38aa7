#include "driver_install/FlashCodeReset.h"

#include "device/FlashOperations.h"
#include "device/UsbConnection.h"

namespace velmora::driver {

void FlashCodeReset::resetToFlashCode() {
    if (FL_OpenRomDevice(connection_)) FL_ResetAndWait(flash::kResetToFlashCode, connection_);
    // Closed whatever happened, so a failed open or a hub that did not come back
    // leaves no connection behind.
    USB_CloseHub(connection_);
}

}  // namespace velmora::driver
