#pragma once
// Writes usbmon captures as a capture tool would, from a recording: what the
// import of captures is tested on.
#include <cerrno>
#include <string>
#include <vector>

#include "device/recording/RecordingFile.h"
#include "device/recording/UsbmonImport.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::recording {

inline void putLittle(std::vector<std::uint8_t>& out, std::uint64_t value, int count) {
    // Bytes past the value's eight are zero (shifting a 64-bit value by 64 or more is undefined).
    for (int i = 0; i < count; ++i) out.push_back(i < 8 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0);
}

// One usbmon event with the 64-byte header of the memory-mapped interface.
inline std::vector<std::uint8_t> usbmonPacket(std::uint64_t id, char event, std::uint8_t type,
                                              std::uint8_t device, const UsbSetup& setup, std::int32_t status,
                                              const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    putLittle(out, id, 8);
    out.push_back(static_cast<std::uint8_t>(event));
    out.push_back(type);
    out.push_back(setup.isDeviceToHost() ? 0x80 : 0x00);
    out.push_back(device);
    putLittle(out, 1, 2);                   // bus 1
    out.push_back(event == 'S' ? 0 : '-');  // setup present on submissions
    out.push_back(data.empty() ? '<' : 0);  // data present
    putLittle(out, 0, 8);                   // seconds (the pcap record holds the time)
    putLittle(out, 0, 4);                   // microseconds
    putLittle(out, static_cast<std::uint32_t>(status), 4);
    putLittle(out, setup.wLength, 4);  // URB length
    putLittle(out, data.size(), 4);    // captured length
    for (std::uint8_t byte : setup.wireBytes()) out.push_back(byte);
    putLittle(out, 0, 16);  // interval, start frame, flags, descriptors
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// How the kernel's enumeration of each new device number shows in a capture.
enum class Enumeration {
    Configured,  // the device descriptor read, then SET_CONFIGURATION
    // A device a driver holds unconfigured, as Brennic does: the kernel's descriptor
    // reads (device, BOS, configuration, strings) and no SET_CONFIGURATION.
    HeldUnconfigured,
};

// A capture of the recorded transfers as usbmon shows them: submission and
// completion, each enumeration of the hub a new device number, the kernel's
// enumeration first, and a mouse's interrupt traffic between.
inline std::vector<CapturedPacket> captureOf(const Recording& recording,
                                             Enumeration enumeration = Enumeration::Configured) {
    std::vector<CapturedPacket> packets;
    std::uint64_t id = 0x1000;
    std::uint8_t device = 4;
    std::int64_t time = 1'700'000'000'000'000;
    std::string openKey;
    auto add = [&](std::vector<std::uint8_t> bytes) {
        packets.push_back({time, std::move(bytes)});
        time += 250;
    };
    for (const Exchange& exchange : recording.exchanges) {
        if (exchange.kind == ExchangeKind::Open && exchange.status == kIOReturnSuccess &&
            exchange.device.platformKey != openKey) {
            openKey = exchange.device.platformKey;
            ++device;
            const UsbSetup descriptor{0x80, 0x06, 0x0100, 0, 18};
            std::vector<std::uint8_t> answer(18, 0);
            answer[8] = static_cast<std::uint8_t>(exchange.device.vendorId);
            answer[9] = static_cast<std::uint8_t>(exchange.device.vendorId >> 8);
            answer[10] = static_cast<std::uint8_t>(exchange.device.productId);
            answer[11] = static_cast<std::uint8_t>(exchange.device.productId >> 8);
            auto transfer = [&](const UsbSetup& setup, std::int32_t status, std::vector<std::uint8_t> data) {
                add(usbmonPacket(++id, 'S', 2, device, setup, -EINPROGRESS, {}));
                add(usbmonPacket(id, 'C', 2, device, setup, status, std::move(data)));
            };
            if (enumeration == Enumeration::HeldUnconfigured) {
                transfer({0x80, 0x06, 0x0100, 0, 8}, 0, {answer.begin(), answer.begin() + 8});
                transfer(descriptor, 0, answer);
                transfer({0x80, 0x06, 0x0F00, 0, 5}, -EPIPE, {});  // no BOS
                transfer({0x80, 0x06, 0x0200, 0, 9}, 0, {9, 2, 18, 0, 1, 1, 0, 0xC0, 0});
                transfer({0x80, 0x06, 0x0300, 0, 255}, 0, {4, 3, 9, 4});
                transfer({0x80, 0x06, 0x0302, 0x0409, 255}, 0, {4, 3, 'Z', 0});
            } else {
                transfer(descriptor, 0, answer);
                transfer({0x00, 0x09, 1, 0, 0}, 0, {});  // the kernel's enumeration ends
            }
            add(usbmonPacket(++id, 'C', 1, 2, UsbSetup{0x80, 0, 0, 0, 4}, 0, {1, 2, 3, 4}));
        }
        if (exchange.kind != ExchangeKind::Control) continue;
        const bool in = exchange.setup.isDeviceToHost();
        add(usbmonPacket(++id, 'S', 2, device, exchange.setup, -EINPROGRESS,
                         in ? std::vector<std::uint8_t>{} : exchange.data));
        std::int32_t status = 0;
        if (exchange.status == kIOUSBPipeStalled) status = -EPIPE;
        if (exchange.status == kIOReturnTimeout) status = -ETIMEDOUT;
        add(usbmonPacket(id, 'C', 2, device, exchange.setup, status,
                         in && status == 0 ? exchange.data : std::vector<std::uint8_t>{}));
    }
    return packets;
}

// The capture as a pcap file: the global header, then each record.
inline std::string writePcap(const testing::ScratchFolder& folder,
                             const std::vector<CapturedPacket>& packets) {
    std::vector<std::uint8_t> file;
    putLittle(file, 0xA1B2C3D4, 4);
    putLittle(file, 2, 2);
    putLittle(file, 4, 2);
    putLittle(file, 0, 8);
    putLittle(file, 262144, 4);
    putLittle(file, kLinkTypeUsbLinuxMmapped, 4);
    for (const CapturedPacket& packet : packets) {
        putLittle(file, static_cast<std::uint64_t>(packet.microseconds / 1000000), 4);
        putLittle(file, static_cast<std::uint64_t>(packet.microseconds % 1000000), 4);
        putLittle(file, packet.bytes.size(), 4);
        putLittle(file, packet.bytes.size(), 4);
        file.insert(file.end(), packet.bytes.begin(), packet.bytes.end());
    }
    return folder.write("capture.pcap", file);
}

}  // namespace velmora::recording
