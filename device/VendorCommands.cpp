#include "device/VendorCommands.h"

#include "device/UsbConnection.h"

using namespace velmora::vendor;

namespace {
std::uint16_t lowWord(std::uint32_t address) {
    return static_cast<std::uint16_t>(address & 0xFFFF);
}
std::uint16_t highWord(std::uint32_t address) {
    return static_cast<std::uint16_t>(address >> 16);
}
}  // namespace

IOReturn VC_ReadStatus(std::uint8_t* buffer, std::uint16_t length, velmora::HubConnection& connection) {
    return USB_DeviceRequest(kDeviceToHost, kRequestReadStatus, 0, 0, length, buffer, connection);
}

IOReturn VC_ResetToRomCode(velmora::HubConnection& connection) {
    return USB_DeviceRequest(kHostToDevice, kRequestResetToRomCode, 0, 0, 0, nullptr, connection);
}

IOReturn VC_ResetToFlashCode(velmora::HubConnection& connection) {
    return USB_DeviceRequest(kHostToDevice, kRequestResetToFlashCode, kResetToFlashCodeValue, 0, 0, nullptr,
                             connection);
}

IOReturn VC_EraseFlash(std::uint32_t address, velmora::HubConnection& connection) {
    // The one request with a limit of its own: the hub answers it only when the
    // chip erase is done (kEraseRequestTimeout says why it is longer).
    return connection.deviceRequest(kHostToDevice, kRequestEraseFlash, lowWord(address), highWord(address), 0,
                                    nullptr, connection.eraseTimeout());
}

IOReturn VC_WriteFlash(std::uint32_t address, const std::uint8_t* bytes, std::uint16_t length,
                       velmora::HubConnection& connection) {
    // The platform sends OUT data without writing to it; the request record is shared
    // with IN transfers, hence the cast.
    return USB_DeviceRequest(kHostToDevice, kRequestWriteFlash, lowWord(address), highWord(address), length,
                             const_cast<std::uint8_t*>(bytes), connection);
}

IOReturn VC_ReadFlash(std::uint32_t address, std::uint8_t* destination, std::uint16_t length,
                      velmora::HubConnection& connection) {
    return USB_DeviceRequest(kDeviceToHost, kRequestReadFlash, lowWord(address), highWord(address), length,
                             destination, connection);
}

std::optional<velmora::HubStatus> VC_ReadHubStatus(velmora::HubConnection& connection) {
    // Cleared before every read, so a short answer never leaves bytes of an earlier read behind.
    velmora::StatusBlock block{};
    if (VC_ReadStatus(block.data(), kStatusBlockLength, connection) != kIOReturnSuccess) return std::nullopt;
    const velmora::HubStatus status = velmora::parseHubStatus(block);
    connection.noteStatus(status);
    return status;
}

std::uint16_t VC_GetFwVersion(velmora::HubConnection& connection) {
    const std::optional<velmora::HubStatus> status = VC_ReadHubStatus(connection);
    return status ? status->firmwareVersion : 0;
}

bool VC_IsRomMode(velmora::HubConnection& connection) {
    const std::optional<velmora::HubStatus> status = VC_ReadHubStatus(connection);
    return status && !status->flashCode;
}
