#include "device/HubConnection.h"

#include "app/SupportedDeviceTable.h"
#include "device/VendorCommands.h"

namespace velmora {
namespace {

// The holder of a port whose claim was refused. An unnamed one (another
// connection of this process) is still another run.
HeldPortLock holderOf(UsbPlatform& platform, const std::string& portPath) {
    for (HeldPortLock& held : platform.portsHeldElsewhere())
        if (held.portPath == portPath) return std::move(held);
    return {portPath, {}};
}

}  // namespace

HubConnection::HubConnection(UsbPlatform& platform, const SupportedDeviceTable& table, Clock& clock,
                             std::optional<std::string> portPath)
    : platform_(platform), table_(table), clock_(clock), portPath_(std::move(portPath)) {}

HubConnection::~HubConnection() {
    closeHub();
}

bool HubConnection::isCandidate(const UsbDeviceInfo& device) const {
    // A hub pinned by the port of its High-Speed half is the hub listed by its
    // SuperSpeed half: the same chip, driven through the half that is listed.
    if (portPath_ && device.portPath != *portPath_ && device.highSpeedHalfPortPath != *portPath_)
        return false;
    return table_.IsSupportedHub(device.vendorId, device.productId);
}

bool HubConnection::isHubPresent() {
    for (const UsbDeviceInfo& device : platform_.listDevices()) {
        if (isCandidate(device)) return true;
    }
    return false;
}

bool HubConnection::openHub() {
    // A held port keeps every open of the run on the hub it holds.
    if (claim_ && portHolds_ > 0) return openFirst(claimedPort_);
    return openFirst(std::nullopt);
}

bool HubConnection::openHubAt(const std::string& portPath, const std::string& leftKey) {
    if (claim_ && portHolds_ > 0 && portPath != claimedPort_) return false;
    return openFirst(portPath, leftKey);
}

bool HubConnection::openFirst(const std::optional<std::string>& portPath, const std::string& leftKey) {
    // The slot holds one hub at most; a stale device left in it is released first
    // so that its exclusive hold cannot block the hub that comes back.
    closeHub();
    refusedAsBusy_ = false;
    busyPort_.reset();
    lastOpenFailure_ = {kIOReturnNotFound, {}};
    for (const UsbDeviceInfo& device : platform_.listDevices()) {
        if (!isCandidate(device) || (portPath && device.portPath != *portPath)) continue;
        if (!leftKey.empty() && device.platformKey == leftKey) return false;  // not back yet
        // Only the first supported hub is tried: a busy first hub fails the open
        // rather than silently switching to a different hub.
        return openListed(device);
    }
    // None is listed. A hub another run is resetting is off the bus for a moment:
    // its held port makes this open busy, as if the hub had been listed.
    if (std::optional<HeldPortLock> held = runHolding(portPath)) {
        refuseAsBusy(std::move(*held));
        lastOpenFailure_ = {kIOReturnExclusiveAccess, {}};
    }
    return false;
}

std::optional<HeldPortLock> HubConnection::portHeldByAnotherRun() {
    return runHolding(std::nullopt);
}

std::optional<HeldPortLock> HubConnection::runHolding(const std::optional<std::string>& portPath) {
    // While this connection holds a port, its own hub is the one away: the reopen
    // after its reset waits for it, and no other run can hold that port.
    if (claim_) return std::nullopt;
    for (HeldPortLock& held : platform_.portsHeldElsewhere()) {
        if ((portPath_ && held.portPath != *portPath_) || (portPath && held.portPath != *portPath)) continue;
        return std::move(held);
    }
    return std::nullopt;
}

void HubConnection::refuseAsBusy(HeldPortLock held) {
    refusedAsBusy_ = true;
    busyPort_ = std::move(held);
}

bool HubConnection::openListed(const UsbDeviceInfo& device) {
    // The port comes first, so a second run never even opens the hub.
    if (!claimPortOf(device.portPath)) return false;
    UsbPlatform::OpenResult opened = platform_.openDevice(device);
    if (!opened.device) {
        lastOpenFailure_ = {opened.status, {}};
        releaseClaimUnlessHeld();
        return false;
    }
    lastOpenFailure_ = {};
    device_ = std::move(opened.device);
    openPort_ = device.portPath;
    openDevice_ = device;
    if (sightingObserver_) sightingObserver_({device, std::nullopt});
    const IOReturn handshake =
        deviceRequest(vendor::kHostToDevice, vendor::kRequestOpenHandshake, vendor::kOpenHandshakeValue,
                      vendor::kOpenHandshakeIndex, 0, nullptr);
    // A listing can lag behind the bus: a hub that is resetting may still be listed
    // under a node that is gone. Its handshake finds no device, and then nothing
    // was opened; every other answer of the handshake is ignored.
    if (handshake == kIOReturnNoDevice) {
        closeHub();
        return false;
    }
    return true;
}

bool HubConnection::claimPortOf(const std::string& portPath) {
    if (claim_ && claimedPort_ == portPath) return true;
    claim_.reset();
    UsbPlatform::ClaimResult claimed = platform_.claimPort(portPath);
    if (!claimed.claim) {
        lastOpenFailure_ = {claimed.status, std::move(claimed.problem)};
        if (claimed.status == kIOReturnExclusiveAccess) refuseAsBusy(holderOf(platform_, portPath));
        return false;
    }
    claim_ = std::move(claimed.claim);
    claimedPort_ = portPath;
    return true;
}

void HubConnection::releaseClaimUnlessHeld() {
    if (portHolds_ > 0) return;
    claim_.reset();
    claimedPort_.clear();
}

void HubConnection::endPortHold() {
    if (portHolds_ > 0) --portHolds_;
    if (!device_) releaseClaimUnlessHeld();
}

void HubConnection::closeHub() {
    device_.reset();
    openPort_.clear();
    releaseClaimUnlessHeld();
}

IOReturn HubConnection::deviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                                      std::uint16_t wIndex, std::uint16_t wLength, void* data) {
    return deviceRequest(bmRequestType, bRequest, wValue, wIndex, wLength, data, controlTimeout_);
}

IOReturn HubConnection::deviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                                      std::uint16_t wIndex, std::uint16_t wLength, void* data,
                                      Milliseconds timeout) {
    if (!device_) return kIOReturnNotFound;
    if (wLength != 0 && data == nullptr) return kIOReturnBadArgument;
    const UsbSetup setup{bmRequestType, bRequest, wValue, wIndex, wLength};
    const IOReturn status = device_->controlRequest(setup, static_cast<std::uint8_t*>(data), timeout);
    if (observer_) observer_(setup, status);
    return status;
}

void HubConnection::noteStatus(const HubStatus& status) {
    if (sightingObserver_) sightingObserver_({openDevice_, status});
}

}  // namespace velmora
