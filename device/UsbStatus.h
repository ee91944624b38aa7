#pragma once
// Status codes of a control request. The hub layers above the platform only ever
// test for 0; the other values say what went wrong, in the 32-bit form the rest of
// the program passes up unchanged.
#include <cstdint>

using IOReturn = std::uint32_t;

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = 0xE00002BC;  // general failure
inline constexpr IOReturn kIOReturnNoMemory = 0xE00002BD;
inline constexpr IOReturn kIOReturnNoDevice = 0xE00002C0;  // the device left the bus
inline constexpr IOReturn kIOReturnBadArgument = 0xE00002C2;
inline constexpr IOReturn kIOReturnUnsupported = 0xE00002C7;
inline constexpr IOReturn kIOReturnExclusiveAccess = 0xE00002C5;  // held by another driver or process
inline constexpr IOReturn kIOReturnTimeout = 0xE00002D6;
inline constexpr IOReturn kIOReturnNotPermitted = 0xE00002E2;
// A device-to-host transfer that completed with fewer bytes than its wLength: the
// hub stopped sending early, so the end of the caller's buffer holds none of its
// data. Neither a stall nor a timeout: the hub answered, just not in full.
inline constexpr IOReturn kIOReturnUnderrun = 0xE00002E7;
inline constexpr IOReturn kIOReturnOverrun = 0xE00002E8;
inline constexpr IOReturn kIOReturnAborted = 0xE00002EB;
inline constexpr IOReturn kIOReturnNotResponding = 0xE00002ED;
inline constexpr IOReturn kIOReturnNotFound = 0xE00002F0;  // nothing is open
inline constexpr IOReturn kIOUSBPipeStalled = 0xE000404F;  // the hub stalled the request
