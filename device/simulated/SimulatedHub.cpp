#include "device/simulated/SimulatedHub.h"

#include <algorithm>
#include <cstring>

#include "device/FlashOperations.h"
#include "device/SerialString.h"
#include "device/VendorCommands.h"
#include "device/simulated/HubDescriptors.h"
#include "firmware/FirmwareBuffer.h"
#include "firmware/ImageLayout.h"

namespace velmora::sim {

namespace {

constexpr std::size_t kBlockStep = image::kBlockBytes;
constexpr std::size_t kVersionBeforeSignature = image::kVersionBeforeBlock;
constexpr std::uint8_t kErasedByte = 0xFF;

bool isBlockSignature(std::uint8_t first, std::uint8_t second) {
    return std::any_of(
        image::kBlockSignatures.begin(), image::kBlockSignatures.end(),
        [&](const auto& signature) { return signature[0] == first && signature[1] == second; });
}

// The boot code looks for the configuration block the way the updater does: at
// 256-byte steps back from the end of the flash. No block, no bootable image.
std::optional<std::size_t> findConfigurationBlock(const std::vector<std::uint8_t>& flash) {
    for (std::size_t position = flash.size() - kBlockStep;; position -= kBlockStep) {
        if (isBlockSignature(flash[position], flash[position + 1])) return position;
        if (position < kBlockStep) return std::nullopt;
    }
}

std::uint32_t flashAddress(const UsbSetup& setup) {
    return static_cast<std::uint32_t>(setup.wValue) | static_cast<std::uint32_t>(setup.wIndex) << 16;
}

bool withinFlash(std::uint32_t address, std::size_t length) {
    return address <= kFlashBytes && length <= kFlashBytes - address;
}

ControlAnswer answer(Outcome outcome, std::uint16_t length = 0) {
    return {outcome, length};
}

}  // namespace

IOReturn toIOReturn(Outcome outcome) {
    switch (outcome) {
        case Outcome::Completed: return kIOReturnSuccess;
        case Outcome::Stalled: return kIOUSBPipeStalled;
        case Outcome::TimedOut: return kIOReturnTimeout;
        case Outcome::NoDevice: return kIOReturnNoDevice;
    }
    return kIOReturnError;
}

RequestKind classifyRequest(const UsbSetup& setup) {
    if (setup.bmRequestType == standard::kDeviceToHost && setup.bRequest == standard::kRequestGetDescriptor)
        return RequestKind::GetDescriptor;
    const bool toHub = setup.bmRequestType == vendor::kHostToDevice;
    const bool fromHub = setup.bmRequestType == vendor::kDeviceToHost;
    switch (setup.bRequest) {
        case vendor::kRequestOpenHandshake: return toHub ? RequestKind::OpenHandshake : RequestKind::Other;
        case vendor::kRequestReadStatus: return fromHub ? RequestKind::ReadStatus : RequestKind::Other;
        case vendor::kRequestResetToRomCode: return toHub ? RequestKind::ResetToRomCode : RequestKind::Other;
        case vendor::kRequestResetToFlashCode:
            return toHub ? RequestKind::ResetToFlashCode : RequestKind::Other;
        case vendor::kRequestEraseFlash: return toHub ? RequestKind::EraseFlash : RequestKind::Other;
        case vendor::kRequestWriteFlash: return toHub ? RequestKind::WriteFlash : RequestKind::Other;
        case vendor::kRequestReadFlash: return fromHub ? RequestKind::ReadFlash : RequestKind::Other;
        default: return RequestKind::Other;
    }
}

std::string_view requestKindName(RequestKind kind) {
    switch (kind) {
        case RequestKind::OpenHandshake: return "handshake";
        case RequestKind::ReadStatus: return "status";
        case RequestKind::ResetToRomCode: return "reset-rom";
        case RequestKind::ResetToFlashCode: return "reset-flash";
        case RequestKind::EraseFlash: return "erase";
        case RequestKind::WriteFlash: return "write";
        case RequestKind::ReadFlash: return "read";
        case RequestKind::GetDescriptor: return "descriptor";
        case RequestKind::Other: return "other";
    }
    return "other";
}

SimulatedHub::SimulatedHub(SimulatedHubConfig config, Clock& clock)
    : config_(std::move(config)), clock_(clock), flash_(kFlashBytes, kErasedByte) {
    runState_ = bootTarget();
}

SimulatedHub::EnumeratedIds SimulatedHub::enumeratedIdsLocked() {
    refreshLocked();
    EnumeratedIds ids{config_.vendorId, config_.superSpeedProductId, config_.highSpeedProductId};
    if (runState_ != RunState::FlashCode) return ids;
    const std::optional<std::size_t> block = findConfigurationBlock(flash_);
    if (!block) return ids;
    const auto word = [this, &block](std::size_t offset) {
        return static_cast<std::uint16_t>(flash_[*block + offset] << 8 | flash_[*block + offset + 1]);
    };
    return {word(image::kVidOffset), word(image::kSspidOffset), word(image::kHspidOffset)};
}

// Its flash code shows the container ID of the configuration block it booted, as
// it does the IDs; its ROM code has none.
std::vector<HubFace> SimulatedHub::facesLocked() {
    const EnumeratedIds ids = enumeratedIdsLocked();
    const bool serial = serialNumberLocked().has_value();
    const bool superSpeed = config_.enumeratesAsSuperSpeed;
    if (runState_ != RunState::FlashCode) {
        return {{FaceKind::RomDevice, superSpeed, ids.vendorId,
                 superSpeed ? ids.superSpeedProductId : ids.highSpeedProductId, std::nullopt, serial}};
    }
    std::optional<ContainerId> containerId;
    if (const std::optional<std::size_t> block = findConfigurationBlock(flash_)) {
        containerId.emplace();
        std::copy_n(flash_.begin() + static_cast<std::ptrdiff_t>(*block + image::kContainerIdOffset),
                    containerId->size(), containerId->begin());
    }
    const HubFace highSpeedHalf{FaceKind::HubHalf,      false,       ids.vendorId,
                                ids.highSpeedProductId, containerId, serial};
    if (!superSpeed) return {highSpeedHalf};
    HubFace superSpeedHalf = highSpeedHalf;
    superSpeedHalf.superSpeed = true;
    superSpeedHalf.productId = ids.superSpeedProductId;
    return {superSpeedHalf, highSpeedHalf};
}

std::vector<HubFace> SimulatedHub::faces() {
    std::lock_guard lock(mutex_);
    return facesLocked();
}

std::uint16_t SimulatedHub::vendorId() {
    std::lock_guard lock(mutex_);
    return enumeratedIdsLocked().vendorId;
}

std::uint16_t SimulatedHub::productId() {
    std::lock_guard lock(mutex_);
    const EnumeratedIds ids = enumeratedIdsLocked();
    return config_.enumeratesAsSuperSpeed ? ids.superSpeedProductId : ids.highSpeedProductId;
}

ControlAnswer SimulatedHub::handleControl(const UsbSetup& setup, std::uint8_t* data) {
    ControlAnswer answered;
    Milliseconds busy{0};
    {
        std::lock_guard lock(mutex_);
        answered = handleLocked(setup, data);
        busy = busyTimeLocked(setup, answered);
    }
    if (busy.count() > 0) clock_.sleepFor(busy);
    return answered;
}

ControlAnswer SimulatedHub::handleControlOn(std::uint64_t enumeration, const UsbSetup& setup,
                                            std::uint8_t* data) {
    ControlAnswer answered;
    Milliseconds busy{0};
    {
        std::lock_guard lock(mutex_);
        refreshLocked();
        if (enumeration != enumeration_) return answer(Outcome::NoDevice);
        answered = handleLocked(setup, data);
        busy = busyTimeLocked(setup, answered);
    }
    if (busy.count() > 0) clock_.sleepFor(busy);
    return answered;
}

Milliseconds SimulatedHub::busyTimeLocked(const UsbSetup& setup, const ControlAnswer& answered) const {
    if (answered.outcome != Outcome::Completed) return Milliseconds{0};
    const FlashTiming& timing = config_.flashTiming;
    const auto perUnit = [&setup](Milliseconds unitTime) {
        return Milliseconds{unitTime.count() * setup.wLength /
                            static_cast<long long>(flash::kTransferUnitBytes)};
    };
    switch (classifyRequest(setup)) {
        case RequestKind::EraseFlash: return timing.erase;
        case RequestKind::WriteFlash: return perUnit(timing.programPerUnit);
        case RequestKind::ReadFlash: return perUnit(timing.readPerUnit);
        default: return Milliseconds{0};
    }
}

ControlAnswer SimulatedHub::handleLocked(const UsbSetup& setup, std::uint8_t* data) {
    if (!onBusLocked()) return answer(Outcome::NoDevice);
    const RequestKind kind = classifyRequest(setup);
    RecordedRequest record{setup, setup.wireBytes(), {}, {}};
    if (!setup.isDeviceToHost() && data != nullptr) record.outData.assign(data, data + setup.wLength);

    const int transferNumber = ++transferCounts_[kind];
    if (faults_.disconnect && faults_.disconnect->kind == kind &&
        faults_.disconnect->onTransfer == transferNumber) {
        record.answer = answer(Outcome::NoDevice);
        startReboot(bootTarget(), faults_.disconnect->comesBack);
    } else if (const std::optional<Outcome> failure = injectedFailure(kind)) {
        record.answer = answer(*failure);
    } else if (setup.isDeviceToHost() && takeShortAnswer(kind)) {
        record.answer = answerShort(kind, setup, data);
    } else {
        record.answer = answerRequest(kind, setup, data);
    }
    const bool changesFlash = kind == RequestKind::EraseFlash || kind == RequestKind::WriteFlash;
    if (changesFlash && faults_.powerCutAfterFlashRequest &&
        ++flashRequestsHandled_ == *faults_.powerCutAfterFlashRequest)
        cutPowerLocked();
    if (!config_.keepRequests) return record.answer;
    requests_.push_back(std::move(record));
    if (faults_.powerCutAfterRequest && ++requestsHandled_ == *faults_.powerCutAfterRequest) cutPowerLocked();
    return requests_.back().answer;
}

// The model of a power cut. The cut comes after the hub answered its request:
// the hub answers a program request only once its pages are programmed, and an
// erase once the chip is blank, so the flash holds that request's whole effect
// and no page is left half programmed. The hub drops off the bus and, when the
// power is back (the reboot time later), starts afresh as from a cable: its boot
// code runs the flash code when the flash holds a configuration block, else it
// stays in ROM code. A reset the hub was on its way through is forgotten.
void SimulatedHub::cutPowerLocked() {
    startReboot(bootTarget(), true);
}

std::optional<Outcome> SimulatedHub::injectedFailure(RequestKind kind) {
    for (RequestFailure& failure : faults_.failures) {
        if (failure.kind == kind && failure.count > 0) {
            --failure.count;
            return failure.outcome;
        }
    }
    return std::nullopt;
}

bool SimulatedHub::takeShortAnswer(RequestKind kind) {
    for (ShortAnswer& shortAnswer : faults_.shortAnswers) {
        if (shortAnswer.kind == kind && shortAnswer.count > 0) {
            --shortAnswer.count;
            return true;
        }
    }
    return false;
}

ControlAnswer SimulatedHub::answerShort(RequestKind kind, const UsbSetup& setup, std::uint8_t* data) {
    // The whole answer is made, but only its first half reaches the caller.
    std::vector<std::uint8_t> whole(setup.wLength);
    ControlAnswer made = answerRequest(kind, setup, whole.data());
    if (made.outcome != Outcome::Completed) return made;
    made.actualLength = static_cast<std::uint16_t>(made.actualLength / 2);
    if (data != nullptr) std::copy_n(whole.begin(), made.actualLength, data);
    return made;
}

ControlAnswer SimulatedHub::answerRequest(RequestKind kind, const UsbSetup& setup, std::uint8_t* data) {
    const bool inRomCode = runState_ == RunState::RomCode;
    switch (kind) {
        case RequestKind::OpenHandshake:
            if (setup.wValue != vendor::kOpenHandshakeValue || setup.wIndex != vendor::kOpenHandshakeIndex ||
                setup.wLength != 0)
                return answer(Outcome::Stalled);
            return answer(Outcome::Completed);
        case RequestKind::ReadStatus: return readStatus(setup, data);
        case RequestKind::ResetToRomCode:
        case RequestKind::ResetToFlashCode: {
            const bool wantsRom = kind == RequestKind::ResetToRomCode;
            RunState target = wantsRom ? RunState::RomCode : bootTarget();
            if (faults_.returnsInWrongCode) target = wantsRom ? RunState::FlashCode : RunState::RomCode;
            startReboot(target, !faults_.neverReturnsAfterReset);
            return answer(Outcome::Completed);
        }
        case RequestKind::EraseFlash:
            // Only the ROM code can touch the flash; the firmware running from it refuses.
            if (!inRomCode) return answer(Outcome::Stalled);
            std::fill(flash_.begin(), flash_.end(), kErasedByte);
            return answer(Outcome::Completed);
        case RequestKind::WriteFlash:
            if (!inRomCode) return answer(Outcome::Stalled);
            return writeFlash(setup, data);
        case RequestKind::ReadFlash:
            if (!inRomCode) return answer(Outcome::Stalled);
            return readFlash(setup, data);
        case RequestKind::GetDescriptor: return readDescriptor(setup, data);
        case RequestKind::Other: break;
    }
    return answer(Outcome::Stalled);
}

// The device descriptor as the hub enumerates now, the language list, and the
// serial-number string; every other string is stalled, as the hub has none.
ControlAnswer SimulatedHub::readDescriptor(const UsbSetup& setup, std::uint8_t* data) {
    const auto type = static_cast<std::uint8_t>(setup.wValue >> 8);
    const auto index = static_cast<std::uint8_t>(setup.wValue & 0xFF);
    const std::optional<std::string> serial = serialNumberLocked();
    std::vector<std::uint8_t> bytes;
    if (type == standard::kDeviceDescriptorType && index == 0) {
        bytes = deviceDescriptors(identityOf(facesLocked().front()));
        bytes.resize(kDeviceDescriptorBytes);
    } else if (type == standard::kStringDescriptorType && index == 0) {
        bytes = languageDescriptor();
    } else if (type == standard::kStringDescriptorType && index == kSerialNumberStringIndex && serial) {
        bytes = stringDescriptor(*serial);
    } else {
        return answer(Outcome::Stalled);
    }
    const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(setup.wLength, bytes.size()));
    if (length > 0 && data != nullptr) std::memcpy(data, bytes.data(), length);
    return answer(Outcome::Completed, length);
}

std::optional<std::string> SimulatedHub::serialNumberLocked() {
    refreshLocked();
    if (runState_ != RunState::FlashCode) return std::nullopt;
    if (faults_.reportedSerial) return faults_.reportedSerial;
    FirmwareBuffer image;
    if (!FW_Parse(image, flash_.data(), static_cast<std::int64_t>(flash_.size())) || image.serial.empty())
        return std::nullopt;
    return image.serial;
}

std::optional<std::string> SimulatedHub::serialNumber() {
    std::lock_guard lock(mutex_);
    return serialNumberLocked();
}

ControlAnswer SimulatedHub::readStatus(const UsbSetup& setup, std::uint8_t* data) {
    const auto block = statusBlockLocked();
    const std::uint16_t length =
        static_cast<std::uint16_t>(std::min<std::size_t>(setup.wLength, block.size()));
    if (length > 0 && data != nullptr) std::memcpy(data, block.data(), length);
    return answer(Outcome::Completed, length);
}

ControlAnswer SimulatedHub::writeFlash(const UsbSetup& setup, const std::uint8_t* data) {
    const std::uint32_t address = flashAddress(setup);
    if (!withinFlash(address, setup.wLength) || (setup.wLength > 0 && data == nullptr))
        return answer(Outcome::Stalled);
    // NOR flash: programming can only clear bits; setting one needs an erase first.
    for (std::size_t i = 0; i < setup.wLength; ++i) flash_[address + i] &= data[i];
    return answer(Outcome::Completed, setup.wLength);
}

ControlAnswer SimulatedHub::readFlash(const UsbSetup& setup, std::uint8_t* data) {
    const std::uint32_t address = flashAddress(setup);
    if (!withinFlash(address, setup.wLength) || (setup.wLength > 0 && data == nullptr))
        return answer(Outcome::Stalled);
    std::memcpy(data, flash_.data() + address, setup.wLength);
    if (faults_.corruptReadAddress) {
        const std::uint32_t corrupt = *faults_.corruptReadAddress;
        if (corrupt >= address && corrupt < address + setup.wLength) data[corrupt - address] ^= 0xFF;
    }
    return answer(Outcome::Completed, setup.wLength);
}

void SimulatedHub::startReboot(RunState target, bool returns) {
    rebooting_ = true;
    returnsFromReboot_ = returns;
    rebootTarget_ = target;
    rebootEndsAt_ = clock_.now() + config_.rebootTime;
}

RunState SimulatedHub::bootTarget() const {
    return findConfigurationBlock(flash_) ? RunState::FlashCode : RunState::RomCode;
}

void SimulatedHub::refreshLocked() {
    if (rebooting_ && returnsFromReboot_ && clock_.now() >= rebootEndsAt_) {
        rebooting_ = false;
        runState_ = rebootTarget_;
        ++enumeration_;
    }
}

bool SimulatedHub::onBusLocked() {
    refreshLocked();
    return pluggedIn_ && !rebooting_;
}

bool SimulatedHub::isOnBus() {
    std::lock_guard lock(mutex_);
    return onBusLocked();
}

std::optional<Milliseconds> SimulatedHub::returnDueAt() {
    std::lock_guard lock(mutex_);
    refreshLocked();
    if (!rebooting_ || !returnsFromReboot_ || !pluggedIn_) return std::nullopt;
    return rebootEndsAt_;
}

std::uint64_t SimulatedHub::enumeration() {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return enumeration_;
}

void SimulatedHub::unplug() {
    std::lock_guard lock(mutex_);
    pluggedIn_ = false;
}

void SimulatedHub::plugIn() {
    std::lock_guard lock(mutex_);
    if (pluggedIn_) return;
    pluggedIn_ = true;
    rebooting_ = false;
    runState_ = bootTarget();
    ++enumeration_;
}

RunState SimulatedHub::runState() {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return runState_;
}

void SimulatedHub::setRunState(RunState state) {
    std::lock_guard lock(mutex_);
    runState_ = state;
}

void SimulatedHub::setWaitSelector(std::uint8_t selector) {
    std::lock_guard lock(mutex_);
    config_.waitSelector = selector;
}

void SimulatedHub::setFaults(HubFaults faults) {
    std::lock_guard lock(mutex_);
    faults_ = std::move(faults);
    transferCounts_.clear();
    requestsHandled_ = 0;
    flashRequestsHandled_ = 0;
}

void SimulatedHub::setFlashTiming(FlashTiming timing) {
    std::lock_guard lock(mutex_);
    config_.flashTiming = timing;
}

void SimulatedHub::setKeepRequests(bool keep) {
    std::lock_guard lock(mutex_);
    config_.keepRequests = keep;
    if (!keep) requests_.clear();
}

HubFaults SimulatedHub::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void SimulatedHub::loadFlashImage(const std::vector<std::uint8_t>& image) {
    std::lock_guard lock(mutex_);
    std::fill(flash_.begin(), flash_.end(), kErasedByte);
    std::copy_n(image.begin(), std::min(image.size(), flash_.size()), flash_.begin());
    runState_ = bootTarget();
}

std::vector<std::uint8_t> SimulatedHub::flashContents() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

std::optional<std::uint16_t> SimulatedHub::imageVersionLocked() const {
    const std::optional<std::size_t> block = findConfigurationBlock(flash_);
    if (!block) return std::nullopt;
    // A block too close to the start has no room for a version; it reads as 0.
    if (*block < kVersionBeforeSignature) return std::uint16_t{0};
    const std::size_t version = *block - kVersionBeforeSignature;
    return static_cast<std::uint16_t>(flash_[version] << 8 | flash_[version + 1]);
}

std::optional<std::uint16_t> SimulatedHub::imageVersion() const {
    std::lock_guard lock(mutex_);
    return imageVersionLocked();
}

std::array<std::uint8_t, kStatusBlockBytes> SimulatedHub::statusBlockLocked() {
    // In its ROM code the hub reports the ROM's version; in its flash code, the
    // version of the image it booted (0 when the image has no room for one).
    HubStatus status;
    status.flashCode = runState_ == RunState::FlashCode;
    status.firmwareVersion = status.flashCode ? imageVersionLocked().value_or(0) : config_.romVersion;
    status.waitSelector = config_.waitSelector;
    return statusBlockOf(status);
}

std::array<std::uint8_t, kStatusBlockBytes> SimulatedHub::statusBlock() {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return statusBlockLocked();
}

std::vector<RecordedRequest> SimulatedHub::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void SimulatedHub::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

}  // namespace velmora::sim
