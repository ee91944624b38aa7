#include "device/HubConnection.h"

#include "app/SupportedDeviceTable.h"
#include "device/VendorCommands.h"

namespace velmora {

HubConnection::HubConnection(UsbPlatform& platform, const SupportedDeviceTable& table, Clock& clock,
                             std::optional<std::string> portPath)
    : platform_(platform), table_(table), clock_(clock), portPath_(std::move(portPath)) {}

HubConnection::~HubConnection() {
    closeHub();
}

bool HubConnection::isCandidate(const UsbDeviceInfo& device) const {
    if (portPath_ && device.portPath != *portPath_) return false;
    return table_.IsSupportedHub(device.vendorId, device.productId);
}

bool HubConnection::isHubPresent() {
    for (const UsbDeviceInfo& device : platform_.listDevices()) {
        if (isCandidate(device)) return true;
    }
    return false;
}

bool HubConnection::openHub() {
    // The slot holds one hub at most; a stale device left in it is released first
    // so that its exclusive hold cannot block the hub that comes back.
    closeHub();
    lastOpenFailure_ = {kIOReturnNotFound, {}};
    for (const UsbDeviceInfo& device : platform_.listDevices()) {
        if (!isCandidate(device)) continue;
        // Only the first supported hub is tried: a busy first hub fails the open
        // rather than silently switching to a different hub.
        UsbPlatform::OpenResult opened = platform_.openDevice(device);
        if (!opened.device) {
            lastOpenFailure_ = {opened.status, std::move(opened.lockProblem)};
            return false;
        }
        lastOpenFailure_ = {};
        device_ = std::move(opened.device);
        deviceRequest(vendor::kHostToDevice, vendor::kRequestOpenHandshake, vendor::kOpenHandshakeValue,
                      vendor::kOpenHandshakeIndex, 0, nullptr);
        return true;
    }
    return false;
}

void HubConnection::closeHub() {
    device_.reset();
}

IOReturn HubConnection::deviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                                      std::uint16_t wIndex, std::uint16_t wLength, void* data) {
    if (!device_) return kIOReturnNotFound;
    if (wLength != 0 && data == nullptr) return kIOReturnBadArgument;
    const UsbSetup setup{bmRequestType, bRequest, wValue, wIndex, wLength};
    const IOReturn status = device_->controlRequest(setup, static_cast<std::uint8_t*>(data), controlTimeout_);
    if (observer_) observer_(setup, status);
    return status;
}

}  // namespace velmora
