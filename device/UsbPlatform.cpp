#include "device/UsbPlatform.h"

#include <algorithm>
#include <cctype>

#include "app/Hex.h"

namespace velmora {

std::array<std::uint8_t, 8> UsbSetup::wireBytes() const {
    return {bmRequestType,
            bRequest,
            static_cast<std::uint8_t>(wValue & 0xFF),
            static_cast<std::uint8_t>(wValue >> 8),
            static_cast<std::uint8_t>(wIndex & 0xFF),
            static_cast<std::uint8_t>(wIndex >> 8),
            static_cast<std::uint8_t>(wLength & 0xFF),
            static_cast<std::uint8_t>(wLength >> 8)};
}

bool isPlainPortPath(const std::string& portPath) {
    return !portPath.empty() && portPath.find("..") == std::string::npos &&
           std::all_of(portPath.begin(), portPath.end(),
                       [](unsigned char c) { return std::isdigit(c) || c == '-' || c == '.'; });
}

IOReturn transferredStatus(const UsbSetup& setup, std::size_t transferred) {
    if (setup.isDeviceToHost() && transferred < setup.wLength) return kIOReturnUnderrun;
    return kIOReturnSuccess;
}

std::string statusText(IOReturn status) {
    return "0x" + hexText(status, 8);
}

std::string formatTraceLine(const UsbSetup& setup, IOReturn status) {
    return "ctrl " + hexBytes(setup.wireBytes(), HexCase::Upper, " ") + " -> " + statusText(status);
}

UsbPlatform::ClaimResult UsbPlatform::claimPort(const std::string&) {
    return {std::make_unique<PortClaim>(), kIOReturnSuccess, {}};
}

std::vector<HeldPortLock> UsbPlatform::portsHeldElsewhere() {
    return {};
}

std::uint64_t UsbPlatform::arrivalsAt(const std::string&) {
    return 0;
}

bool UsbPlatform::waitForArrival(const std::string&, std::uint64_t, Milliseconds deadline, Clock& clock) {
    const Milliseconds left = deadline - clock.now();
    if (left.count() > 0) clock.sleepFor(left);
    return false;
}

}  // namespace velmora
