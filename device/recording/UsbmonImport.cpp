#include "device/recording/UsbmonImport.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

namespace velmora::recording {
namespace {

// The usbmon packet header, little-endian as the capturing kernel wrote it.
constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kMmappedHeaderBytes = 64;
constexpr std::uint8_t kControlTransfer = 2;
constexpr std::uint8_t kVendorRequest = 0x40;  // the type bits of bmRequestType
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kDeviceDescriptor = 0x01;
constexpr std::uint8_t kConfigurationDescriptor = 0x02;
constexpr std::uint8_t kStringDescriptor = 0x03;
constexpr std::uint16_t kKernelStringReadBytes = 255;

struct UsbmonHeader {
    std::uint64_t id = 0;
    char event = 0;  // 'S' submission, 'C' completion, 'E' error
    std::uint8_t transferType = 0;
    std::uint8_t endpoint = 0;
    std::uint8_t device = 0;
    std::uint16_t bus = 0;
    bool hasSetup = false;
    std::int32_t status = 0;
    std::uint32_t captured = 0;
    std::uint8_t setup[8] = {};
};

std::uint64_t little(const std::uint8_t* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

std::optional<UsbmonHeader> parseHeader(const std::vector<std::uint8_t>& bytes, std::size_t headerBytes) {
    if (bytes.size() < headerBytes) return std::nullopt;
    UsbmonHeader header;
    const std::uint8_t* b = bytes.data();
    header.id = little(b, 8);
    header.event = static_cast<char>(b[8]);
    header.transferType = b[9];
    header.endpoint = b[10];
    header.device = b[11];
    header.bus = static_cast<std::uint16_t>(little(b + 12, 2));
    header.hasSetup = b[14] == 0;
    header.status = static_cast<std::int32_t>(little(b + 28, 4));
    header.captured = static_cast<std::uint32_t>(little(b + 36, 4));
    std::memcpy(header.setup, b + 40, 8);
    return header;
}

// A completion's status, a negated errno, as the status a platform gives. Matched
// as it stands: negating a value a damaged capture holds could overflow.
IOReturn statusOf(std::int32_t status) {
    switch (status) {
        case 0: return kIOReturnSuccess;
        case -EPIPE: return kIOUSBPipeStalled;
        case -ETIMEDOUT:
        case -ENOENT: return kIOReturnTimeout;  // a transfer abandoned at its limit
        case -ENODEV:
        case -ESHUTDOWN:
        case -EPROTO: return kIOReturnNoDevice;
        default: return kIOReturnError;
    }
}

UsbSetup setupOf(const std::uint8_t* bytes) {
    return {bytes[0], bytes[1], static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8),
            static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8),
            static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8)};
}

struct Pending {
    UsbSetup setup;
    std::vector<std::uint8_t> sent;
    std::int64_t at = 0;
};

// A transfer taken from the capture, with the times it was submitted and completed.
struct Taken {
    Exchange exchange;
    std::int64_t submitted = 0;
    std::int64_t completed = 0;
};

struct DeviceState {
    UsbDeviceInfo info;
    bool identified = false;  // its device descriptor was seen
    bool opened = false;
    bool configured = false;  // the kernel's enumeration of it was seen to end
    // Descriptor reads not yet known to be the program's rather than the kernel's.
    std::vector<Taken> held;
};

class Importer {
public:
    Importer(std::size_t headerBytes, const ImportDefaults& defaults)
        : headerBytes_(headerBytes), defaults_(defaults) {}

    void take(const CapturedPacket& packet) {
        const std::optional<UsbmonHeader> header = parseHeader(packet.bytes, headerBytes_);
        if (!header || header->transferType != kControlTransfer || (header->endpoint & 0x7F) != 0) return;
        if (start_ < 0) start_ = packet.microseconds;
        const std::uint8_t* data = packet.bytes.data() + headerBytes_;
        const std::size_t captured =
            std::min<std::size_t>(header->captured, packet.bytes.size() - headerBytes_);
        if (header->event == 'S' && header->hasSetup) {
            Pending pending{setupOf(header->setup), {}, packet.microseconds};
            if (!pending.setup.isDeviceToHost()) pending.sent.assign(data, data + captured);
            pending_[header->id] = std::move(pending);
            return;
        }
        const auto found = pending_.find(header->id);
        if (found == pending_.end()) return;
        Pending submitted = std::move(found->second);
        pending_.erase(found);
        complete(*header, submitted, data, captured, packet.microseconds);
    }

    std::vector<Exchange> finish() {
        for (auto& [key, device] : devices_) release(device);
        if (open_) closeOpen(lastTime_);
        return std::move(exchanges_);
    }

private:
    void complete(const UsbmonHeader& header, const Pending& submitted, const std::uint8_t* data,
                  std::size_t captured, std::int64_t at) {
        DeviceState& device = deviceFor(header.bus, header.device);
        const UsbSetup& setup = submitted.setup;
        const bool descriptorRead = setup.bmRequestType == 0x80 && setup.bRequest == kGetDescriptor;
        const std::uint8_t descriptorType = static_cast<std::uint8_t>(setup.wValue >> 8);
        // The kernel's own reading of the device descriptor gives the IDs.
        if (descriptorRead && setup.wValue == kDeviceDescriptor << 8 && captured >= 12) {
            device.info.vendorId = static_cast<std::uint16_t>(data[8] | data[9] << 8);
            device.info.productId = static_cast<std::uint16_t>(data[10] | data[11] << 8);
            device.identified = true;
        }
        // The kernel reads each new device's configuration descriptor before it
        // makes the device's node; a program never sends that read on the wire (it
        // is given the copy the kernel keeps). So the read, and every descriptor
        // read this device was sent before it, were the kernel's enumeration, and a
        // later one is a program's. SET_CONFIGURATION, when a driver lets the kernel
        // configure the device, ends the enumeration the same way.
        if ((descriptorRead && descriptorType == kConfigurationDescriptor) ||
            (setup.bmRequestType == 0x00 && setup.bRequest == 0x09)) {
            device.held.clear();
            device.configured = true;
            return;
        }
        // The kernel caches a device's strings reading 255 bytes at a time; a
        // program asks for the string's own length, which is even.
        if (descriptorRead && descriptorType == kStringDescriptor && setup.wLength == kKernelStringReadBytes)
            return;
        // The program reads the hub's serial string after an update. Without the
        // kernel's enumeration in the capture those reads cannot be told from the
        // kernel's until the device is sent a vendor request or the capture ends.
        if (descriptorRead && programSeen_) {
            Taken taken{control(device, submitted, data, captured, at, header.status), submitted.at, at};
            if (device.configured) {
                emit(device, std::move(taken));
            } else {
                device.held.push_back(std::move(taken));
            }
            return;
        }
        if ((setup.bmRequestType & 0x60) != kVendorRequest) return;
        programSeen_ = true;
        release(device);
        emit(device, {control(device, submitted, data, captured, at, header.status), submitted.at, at});
    }

    void release(DeviceState& device) {
        for (Taken& taken : device.held) emit(device, std::move(taken));
        device.held.clear();
    }

    void emit(DeviceState& device, Taken taken) {
        if (open_ != &device) openDevice(device, taken.submitted);
        exchanges_.push_back(std::move(taken.exchange));
        lastTime_ = taken.completed;
    }

    Exchange control(const DeviceState& device, const Pending& submitted, const std::uint8_t* data,
                     std::size_t captured, std::int64_t at, std::int32_t completion) const {
        const UsbSetup& setup = submitted.setup;
        Exchange exchange = stamped(ExchangeKind::Control, submitted.at);
        exchange.port = device.info.portPath;
        exchange.setup = setup;
        exchange.took = Milliseconds((at - submitted.at) / 1000);
        std::size_t moved = setup.wLength;
        if (setup.isDeviceToHost()) {
            moved = std::min<std::size_t>(captured, setup.wLength);
            exchange.data.assign(data, data + moved);
        } else {
            exchange.data = submitted.sent;
        }
        exchange.data.resize(setup.wLength, 0);
        exchange.status = statusOf(completion);
        if (exchange.status == kIOReturnSuccess) exchange.status = transferredStatus(setup, moved);
        return exchange;
    }

    DeviceState& deviceFor(std::uint16_t bus, std::uint8_t number) {
        const std::uint32_t key = static_cast<std::uint32_t>(bus) << 8 | number;
        DeviceState& device = devices_[key];
        if (device.info.platformKey.empty()) {
            char text[16];
            std::snprintf(text, sizeof text, "%03u/%03u", static_cast<unsigned>(bus),
                          static_cast<unsigned>(number));
            device.info.platformKey = text;
            // usbmon names no port: every enumeration on a bus counts as the same
            // port, which is what a hub that resets itself looks like.
            device.info.portPath = "usbmon" + std::to_string(bus);
            device.info.vendorId = defaults_.vendorId;
            device.info.productId = defaults_.productId;
        }
        return device;
    }

    Exchange stamped(ExchangeKind kind, std::int64_t at) const {
        Exchange exchange;
        exchange.kind = kind;
        exchange.at = Milliseconds((at - start_) / 1000);
        return exchange;
    }

    void closeOpen(std::int64_t at) {
        Exchange close = stamped(ExchangeKind::Close, at);
        close.port = open_->info.portPath;
        exchanges_.push_back(std::move(close));
        open_ = nullptr;
    }

    // The device the transfers now go to was listed and opened just before.
    void openDevice(DeviceState& device, std::int64_t at) {
        if (open_) closeOpen(at);
        Exchange list = stamped(ExchangeKind::List, at);
        list.devices = {device.info};
        exchanges_.push_back(std::move(list));
        Exchange open = stamped(ExchangeKind::Open, at);
        open.device = device.info;
        open.port = device.info.portPath;
        exchanges_.push_back(std::move(open));
        open_ = &device;
    }

    std::size_t headerBytes_;
    ImportDefaults defaults_;
    std::int64_t start_ = -1;
    std::int64_t lastTime_ = 0;
    std::map<std::uint64_t, Pending> pending_;
    std::map<std::uint32_t, DeviceState> devices_;
    DeviceState* open_ = nullptr;
    bool programSeen_ = false;  // a vendor request was seen: a program is at work
    std::vector<Exchange> exchanges_;
};

}  // namespace

bool importUsbmonPackets(int linkType, const std::vector<CapturedPacket>& packets,
                         const ImportDefaults& defaults, Recording& recording, std::string& error) {
    if (linkType != kLinkTypeUsbLinux && linkType != kLinkTypeUsbLinuxMmapped) {
        error = "it is no usbmon capture (link type " + std::to_string(linkType) + ")";
        return false;
    }
    Importer importer(linkType == kLinkTypeUsbLinux ? kHeaderBytes : kMmappedHeaderBytes, defaults);
    for (const CapturedPacket& packet : packets) importer.take(packet);
    recording.exchanges = importer.finish();
    if (recording.exchanges.empty()) {
        error = "it holds no vendor request to any device";
        return false;
    }
    for (std::size_t i = 0; i < recording.exchanges.size(); ++i) recording.exchanges[i].number = i + 1;
    return true;
}

}  // namespace velmora::recording
