#include "detection/HubDetection.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "device/UsbConnection.h"
#include "device/VendorCommands.h"

namespace velmora {

namespace {

HubInfo busyHub() {
    std::string text = std::string(kHubBusyFirstLine) + kHubBusyText;
    text.pop_back();  // the field's last line has no line end
    return {text, TextColour::Blue};
}

}  // namespace

HubInfo DetectHub(HubConnection& connection) {
    if (!USB_IsHubPresent(connection)) {
        // Off the bus because another run is resetting it: asking for the hub to be
        // plugged in would invite a replug in the middle of that run's update.
        if (connection.portHeldByAnotherRun()) return busyHub();
        return {kHubNotFoundText, TextColour::Red};
    }
    // A hub that is attached but cannot be opened keeps this value and shows ffff.
    std::uint16_t version = 0xFFFF;
    if (USB_OpenHub(connection)) {
        version = VC_GetFwVersion(connection);
    } else if (connection.refusedAsBusy()) {
        return busyHub();
    }
    USB_CloseHub(connection);

    if (version == 0) {
        return {kHubNeedsDriverText, TextColour::Blue};
    }
    char text[64];
    std::snprintf(text, sizeof text, kHubVersionFormat, version);
    return {text, TextColour::Blue};
}

}  // namespace velmora
