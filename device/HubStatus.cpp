#include "device/HubStatus.h"

#include "app/Hex.h"

namespace velmora {

std::optional<std::uint16_t> HubStatus::runningVersion() const {
    if (!flashCode) return std::nullopt;
    return firmwareVersion;
}

HubStatus parseHubStatus(const StatusBlock& block) {
    using namespace vendor;
    HubStatus status;
    status.firmwareVersion =
        static_cast<std::uint16_t>(block[kStatusVersionHigh] << 8 | block[kStatusVersionLow]);
    status.flashCode = (block[kStatusFlags] & kStatusFlashCodeFlag) != 0;
    status.waitSelector = block[kStatusWaitSelector];
    return status;
}

StatusBlock statusBlockOf(const HubStatus& status) {
    using namespace vendor;
    StatusBlock block{};
    block[kStatusVersionHigh] = static_cast<std::uint8_t>(status.firmwareVersion >> 8);
    block[kStatusVersionLow] = static_cast<std::uint8_t>(status.firmwareVersion & 0xFF);
    block[kStatusWaitSelector] = status.waitSelector;
    block[kStatusFlags] = status.flashCode ? kStatusFlashCodeFlag : 0;
    return block;
}

std::optional<std::uint16_t> runningVersion(const std::optional<HubStatus>& status) {
    if (!status) return std::nullopt;
    return status->runningVersion();
}

std::string hubVersionText(std::uint16_t version) {
    return hexText(version, 4, HexCase::Lower);
}

std::string runningVersionText(const std::optional<HubStatus>& status) {
    if (!status) return kUnreadVersionText;
    if (!status->flashCode) return kRomCodeVersionText;
    return hubVersionText(status->firmwareVersion);
}

}  // namespace velmora
