#pragma once
// One function per vendor request of the hub. Each sends exactly one control
// request over the connection and returns its status; none retries or waits.
#include <cstdint>

#include "device/HubConnection.h"
#include "device/HubStatus.h"

namespace velmora::vendor {
inline constexpr std::uint8_t kHostToDevice = 0x40;
inline constexpr std::uint8_t kDeviceToHost = 0xC0;

inline constexpr std::uint8_t kRequestOpenHandshake = 0x02;
inline constexpr std::uint16_t kOpenHandshakeValue = 0x0001;
inline constexpr std::uint16_t kOpenHandshakeIndex = 0x2E7A;
inline constexpr std::uint8_t kRequestReadStatus = 0x09;
inline constexpr std::uint8_t kRequestResetToRomCode = 0x00;
inline constexpr std::uint8_t kRequestResetToFlashCode = 0xE9;
inline constexpr std::uint16_t kResetToFlashCodeValue = 0x0101;
inline constexpr std::uint8_t kRequestEraseFlash = 0xE8;
inline constexpr std::uint8_t kRequestWriteFlash = 0xC8;
inline constexpr std::uint8_t kRequestReadFlash = 0xD8;
}  // namespace velmora::vendor

IOReturn VC_ReadStatus(std::uint8_t* buffer, std::uint16_t length, velmora::HubConnection& connection);
IOReturn VC_ResetToRomCode(velmora::HubConnection& connection);
IOReturn VC_ResetToFlashCode(velmora::HubConnection& connection);
IOReturn VC_EraseFlash(std::uint32_t address, velmora::HubConnection& connection);
IOReturn VC_WriteFlash(std::uint32_t address, const std::uint8_t* bytes, std::uint16_t length,
                       velmora::HubConnection& connection);
IOReturn VC_ReadFlash(std::uint32_t address, std::uint8_t* destination, std::uint16_t length,
                      velmora::HubConnection& connection);

// The status block read into a cleared buffer and parsed; none when the read
// fails. The status read is also told to the connection's sighting observer (the
// run's record).
std::optional<velmora::HubStatus> VC_ReadHubStatus(velmora::HubConnection& connection);
// 0 when the status block cannot be read.
std::uint16_t VC_GetFwVersion(velmora::HubConnection& connection);
// True only when the status block was read and the flash-code flag is clear.
bool VC_IsRomMode(velmora::HubConnection& connection);
