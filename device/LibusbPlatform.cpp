#include "device/LibusbPlatform.h"

#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "device/PortLock.h"

namespace velmora {

namespace {

constexpr int kMaximumPortDepth = 7;  // USB 3 allows five hub tiers; room to spare
// How long one slice of an arrival wait handles events before it looks again.
constexpr Milliseconds kArrivalSlice{50};

// "bus-port.port...": stays the same when a device re-enumerates on the same port.
std::string portPathOf(libusb_device* device) {
    std::uint8_t ports[kMaximumPortDepth];
    const int depth = libusb_get_port_numbers(device, ports, kMaximumPortDepth);
    std::string path = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < depth; ++i) {
        path += i == 0 ? '-' : '.';
        path += std::to_string(ports[i]);
    }
    return path;
}

std::string platformKeyOf(libusb_device* device) {
    char key[16];
    std::snprintf(key, sizeof key, "%03u/%03u", static_cast<unsigned>(libusb_get_bus_number(device)),
                  static_cast<unsigned>(libusb_get_device_address(device)));
    return key;
}

bool describe(libusb_device* device, UsbDeviceInfo& info) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return false;
    info.vendorId = descriptor.idVendor;
    info.productId = descriptor.idProduct;
    info.portPath = portPathOf(device);
    info.platformKey = platformKeyOf(device);
    return true;
}

class LibusbDevice final : public UsbDevice {
public:
    explicit LibusbDevice(libusb_device_handle* handle) : handle_(handle) {}
    ~LibusbDevice() override { libusb_close(handle_); }

    IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds timeout) override {
        const int result =
            libusb_control_transfer(handle_, setup.bmRequestType, setup.bRequest, setup.wValue, setup.wIndex,
                                    data, setup.wLength, static_cast<unsigned>(timeout.count()));
        if (result < 0) return statusFromLibusbError(result);
        return transferredStatus(setup, static_cast<std::size_t>(result));
    }

private:
    libusb_device_handle* handle_;
};

class LockClaim final : public PortClaim {
public:
    explicit LockClaim(PortLock lock) : lock_(std::move(lock)) {}

private:
    PortLock lock_;
};

// usbfs opens a device whatever drives it, but a hub whose interface a kernel
// driver holds (the hub driver, in its flash code) is that driver's: requests sent
// beside it would fight it, and the update waits until Brennic holds the hub
// instead. Brennic binds the device itself and leaves it unconfigured, so it has
// no interface a driver could hold.
bool heldByKernelDriver(libusb_device_handle* handle) {
    return libusb_kernel_driver_active(handle, 0) == 1;
}

int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                          void* platform) {
    UsbDeviceInfo info;
    describe(device, info);
    // Only queued here: libusb must not be re-entered (listing, opening) from its own hook.
    static_cast<LibusbPlatform*>(platform)->queueEvent(
        event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? UsbHotplugEvent::Arrived : UsbHotplugEvent::Left,
        std::move(info));
    return 0;
}

}  // namespace

IOReturn statusFromLibusbError(int error) {
    switch (error) {
        case LIBUSB_SUCCESS: return kIOReturnSuccess;
        case LIBUSB_ERROR_IO: return kIOReturnNotResponding;
        case LIBUSB_ERROR_INVALID_PARAM: return kIOReturnBadArgument;
        case LIBUSB_ERROR_ACCESS: return kIOReturnExclusiveAccess;
        case LIBUSB_ERROR_NO_DEVICE: return kIOReturnNoDevice;
        case LIBUSB_ERROR_NOT_FOUND: return kIOReturnNoDevice;
        case LIBUSB_ERROR_BUSY: return kIOReturnExclusiveAccess;
        case LIBUSB_ERROR_TIMEOUT: return kIOReturnTimeout;
        case LIBUSB_ERROR_OVERFLOW: return kIOReturnOverrun;
        case LIBUSB_ERROR_PIPE: return kIOUSBPipeStalled;
        case LIBUSB_ERROR_INTERRUPTED: return kIOReturnAborted;
        case LIBUSB_ERROR_NO_MEM: return kIOReturnNoMemory;
        case LIBUSB_ERROR_NOT_SUPPORTED: return kIOReturnUnsupported;
        default: return kIOReturnError;
    }
}

LibusbPlatform::LibusbPlatform() {
    if (libusb_init(&context_) != LIBUSB_SUCCESS) context_ = nullptr;
    // Registered for the platform's whole life: the arrival waits count on it even
    // when nobody listens.
    registerHotplug();
}

LibusbPlatform::~LibusbPlatform() {
    deregisterHotplug();
    if (context_) libusb_exit(context_);
}

std::vector<UsbDeviceInfo> LibusbPlatform::listDevices() {
    std::vector<ListedUsbDevice> devices;
    if (!context_) return {};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    for (ssize_t i = 0; i < count; ++i) {
        ListedUsbDevice device;
        if (!describe(list[i], device.info)) continue;
        device.superSpeed = libusb_get_device_speed(list[i]) >= LIBUSB_SPEED_SUPER;
        devices.push_back(std::move(device));
    }
    if (list) libusb_free_device_list(list, 1);
    return halves_.listedOncePerDevice(std::move(devices));
}

// The hub on a port is the hub on its peer port too (UsbHalves.h): a claim is
// refused while another run holds the peer's lock, so a run that reached the hub
// by its other half, or saw that half listed first as the hub came back from a
// reset, is busy. The peer's lock is only tried, after the port's own is held:
// of two runs claiming the two halves at once, the later try sees the earlier
// hold, so never both go on; and the one lock held names the hub's port alone.
UsbPlatform::ClaimResult LibusbPlatform::claimPort(const std::string& portPath) {
    PortLock lock;
    if (const IOReturn status = lock.acquire(portPath); status != kIOReturnSuccess)
        return {nullptr, status, lock.error()};
    if (const std::string peer = peerPortPath(portPath); !peer.empty()) {
        PortLock peerLock;
        if (const IOReturn status = peerLock.acquire(peer); status != kIOReturnSuccess)
            return {nullptr, status, peerLock.error()};
    }
    return {std::make_unique<LockClaim>(std::move(lock)), kIOReturnSuccess, {}};
}

std::vector<HeldPortLock> LibusbPlatform::portsHeldElsewhere() {
    return findHeldPortLocks(PortLock::defaultDirectory(), getpid());
}

UsbPlatform::OpenResult LibusbPlatform::openDevice(const UsbDeviceInfo& wanted) {
    if (!context_) return {nullptr, kIOReturnNotResponding};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    OpenResult result{nullptr, kIOReturnNoDevice};
    for (ssize_t i = 0; i < count; ++i) {
        UsbDeviceInfo info;
        // The same key and IDs: the very enumeration that was listed, not a successor.
        if (!describe(list[i], info) || info.platformKey != wanted.platformKey ||
            info.vendorId != wanted.vendorId || info.productId != wanted.productId)
            continue;
        libusb_device_handle* handle = nullptr;
        const int error = libusb_open(list[i], &handle);
        if (error != LIBUSB_SUCCESS) {
            result.status = statusFromLibusbError(error);
        } else if (heldByKernelDriver(handle)) {
            libusb_close(handle);
            result.status = kIOReturnExclusiveAccess;
        } else {
            result = {std::make_unique<LibusbDevice>(handle), kIOReturnSuccess};
        }
        break;
    }
    if (list) libusb_free_device_list(list, 1);
    return result;
}

bool LibusbPlatform::setHotplugCallback(HotplugCallback callback) {
    {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
        pending_.clear();
    }
    return hotplugRegistered_;
}

void LibusbPlatform::registerHotplug() {
    if (!context_ || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
    const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    const int error = libusb_hotplug_register_callback(
        context_, static_cast<libusb_hotplug_event>(events), static_cast<libusb_hotplug_flag>(0),
        LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onHotplug, this,
        &hotplugHandle_);
    hotplugRegistered_ = error == LIBUSB_SUCCESS;
}

void LibusbPlatform::deregisterHotplug() {
    if (hotplugRegistered_) libusb_hotplug_deregister_callback(context_, hotplugHandle_);
    hotplugRegistered_ = false;
}

void LibusbPlatform::queueEvent(UsbHotplugEvent kind, UsbDeviceInfo device) {
    if (kind == UsbHotplugEvent::Arrived) arrivals_.noteArrival(device.portPath);
    std::lock_guard lock(mutex_);
    // Kept only for a listener: with none, nobody would ever take them.
    if (callback_) pending_.emplace_back(kind, std::move(device));
}

std::uint64_t LibusbPlatform::arrivalsAt(const std::string& portPath) {
    return arrivals_.arrivalsAt(portPath);
}

bool LibusbPlatform::waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                                    Clock& clock) {
    if (!context_ || !hotplugRegistered_ || !clock.isWallClock())
        return UsbPlatform::waitForArrival(portPath, seen, deadline, clock);
    for (;;) {
        if (arrivals_.arrivalsAt(portPath) > seen) return true;
        const Milliseconds left = deadline - clock.now();
        if (left.count() <= 0) return false;
        // Handles the events here when no other thread does; when the pump thread
        // does, libusb waits instead until it has handled the next batch. Either
        // way the hook has counted an arrival by the time this returns.
        const Milliseconds slice = std::min(left, kArrivalSlice);
        timeval wait{0, static_cast<suseconds_t>(std::chrono::microseconds(slice).count())};
        libusb_handle_events_timeout_completed(context_, &wait, nullptr);
    }
}

void LibusbPlatform::pollEvents(std::chrono::milliseconds timeout) {
    if (!context_) return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(seconds.count());
    wait.tv_usec = static_cast<suseconds_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout - seconds).count());
    libusb_handle_events_timeout_completed(context_, &wait, nullptr);

    std::vector<std::pair<UsbHotplugEvent, UsbDeviceInfo>> events;
    HotplugCallback callback;
    {
        std::lock_guard lock(mutex_);
        events.swap(pending_);
        callback = callback_;
    }
    if (!callback) return;
    for (const auto& [kind, device] : events) callback(kind, device);
}

}  // namespace velmora
