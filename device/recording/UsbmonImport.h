#pragma once
// Captures of the kernel's USB monitor (usbmon), as packet-capture tools write
// them, turned into a recording: the control transfers of every device that was
// sent vendor requests, each enumeration of it opened in turn, so that the
// exchange replays as if this program had recorded it.
#include <cstdint>
#include <string>
#include <vector>

#include "device/recording/RecordingFile.h"

namespace velmora::recording {

// The two link types of usbmon captures: the 48-byte header, and the 64-byte one
// of the memory-mapped interface.
inline constexpr int kLinkTypeUsbLinux = 189;
inline constexpr int kLinkTypeUsbLinuxMmapped = 220;

struct CapturedPacket {
    std::int64_t microseconds = 0;    // capture time
    std::vector<std::uint8_t> bytes;  // the usbmon header, then the captured data
};

struct ImportDefaults {
    // The IDs a device is given when the capture never shows its device descriptor.
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// Turns the packets of a capture of link type linkType into a recording (header
// left to the caller); false with error when the link type is not usbmon's or no
// device was sent a vendor request.
bool importUsbmonPackets(int linkType, const std::vector<CapturedPacket>& packets,
                         const ImportDefaults& defaults, Recording& recording, std::string& error);

// False when the program was built without libpcap, which reads capture files.
bool canReadCaptures();

// Reads a pcap or pcapng file through libpcap; false with error when it cannot be
// read (or the program was built without libpcap).
bool readCapture(const std::string& path, int& linkType, std::vector<CapturedPacket>& packets,
                 std::string& error);

}  // namespace velmora::recording
