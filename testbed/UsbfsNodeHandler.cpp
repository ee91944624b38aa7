#include "testbed/UsbfsNodeHandler.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace velmora::usbfs {

namespace {

constexpr std::size_t kSetupPacketBytes = 8;
// Capabilities a current kernel reports; libusb asks once when it opens the node.
constexpr std::uint32_t kUsbfsCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

UsbSetup parseSetup(const std::uint8_t* bytes) {
    UsbSetup setup;
    setup.bmRequestType = bytes[0];
    setup.bRequest = bytes[1];
    setup.wValue = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
    setup.wIndex = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    setup.wLength = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
    return setup;
}

usbdevfs_urb* urbOf(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

void fail(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, -1, error);
}
void succeed(UMockdevIoctlClient* client, long result = 0) {
    umockdev_ioctl_client_complete(client, result, 0);
}

// The hub's answer written into the URB as the kernel would on completion.
void completeUrb(usbdevfs_urb* urb, const sim::ControlAnswer& answer) {
    urb->status = answer.outcome == sim::Outcome::Stalled ? -EPIPE : 0;
    urb->actual_length = answer.outcome == sim::Outcome::Completed ? answer.actualLength : 0;
}

}  // namespace

UsbfsNodeHandler::UsbfsNodeHandler(std::shared_ptr<sim::SimulatedHub> hub, std::uint64_t enumeration)
    : hub_(std::move(hub)), enumeration_(enumeration), base_(umockdev_ioctl_base_new()) {
    g_signal_connect(base_, "handle-ioctl", G_CALLBACK(&UsbfsNodeHandler::onIoctl), this);
    g_signal_connect(base_, "client-vanished", G_CALLBACK(&UsbfsNodeHandler::onClientVanished), this);
}

UsbfsNodeHandler::~UsbfsNodeHandler() {
    g_signal_handlers_disconnect_by_data(base_, this);
    dropAllUrbs();
    g_object_unref(base_);
}

int UsbfsNodeHandler::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    return static_cast<UsbfsNodeHandler*>(self)->handle(client) ? TRUE : FALSE;
}

void UsbfsNodeHandler::onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    // The program closed the node (or died): nobody will reap what it queued.
    static_cast<UsbfsNodeHandler*>(self)->dropUrbsOf(client);
}

void UsbfsNodeHandler::release(QueuedUrb& queued) {
    g_object_unref(queued.urb);
    g_object_unref(queued.client);
}

bool UsbfsNodeHandler::handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
        case USBDEVFS_SUBMITURB: submitUrb(client); return true;
        case USBDEVFS_REAPURBNDELAY:
        case USBDEVFS_REAPURB: reapUrb(client); return true;
        case USBDEVFS_DISCARDURB: discardUrb(client); return true;
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
            std::uint32_t capabilities = kUsbfsCapabilities;
            umockdev_ioctl_data_update(arg, 0, reinterpret_cast<guint8*>(&capabilities), sizeof capabilities);
            succeed(client);
            return true;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: succeed(client); return true;
        case USBDEVFS_GETDRIVER:
            fail(client, ENODATA);  // no kernel driver is bound to the hub
            return true;
        default: fail(client, ENOTTY); return true;
    }
}

void UsbfsNodeHandler::submitUrb(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (urbData == nullptr) return fail(client, EFAULT);
    usbdevfs_urb* urb = urbOf(urbData);
    // The hub has nothing but its default control pipe.
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || (urb->endpoint & 0x7F) != 0 ||
        urb->buffer_length < static_cast<int>(kSetupPacketBytes)) {
        g_object_unref(urbData);
        return fail(client, EINVAL);
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                            static_cast<gsize>(urb->buffer_length), nullptr);
    if (buffer == nullptr) {
        g_object_unref(urbData);
        return fail(client, EFAULT);
    }
    const UsbSetup setup = parseSetup(buffer->data);
    if (setup.wLength > urb->buffer_length - static_cast<int>(kSetupPacketBytes)) {
        g_object_unref(buffer);
        g_object_unref(urbData);
        return fail(client, EINVAL);
    }
    std::uint8_t* dataStage = setup.wLength > 0 ? buffer->data + kSetupPacketBytes : nullptr;
    const sim::ControlAnswer answer = hub_ ? hub_->handleControlOn(enumeration_, setup, dataStage)
                                           : sim::ControlAnswer{sim::Outcome::Stalled, 0};
    g_object_unref(buffer);

    if (answer.outcome == sim::Outcome::NoDevice) {
        g_object_unref(urbData);
        return fail(client, ENODEV);
    }
    std::lock_guard lock(mutex_);
    const QueuedUrb queued{urbData, static_cast<UMockdevIoctlClient*>(g_object_ref(client))};
    if (answer.outcome == sim::Outcome::TimedOut) {
        pending_.push_back(queued);
    } else {
        completeUrb(urb, answer);
        completed_.push_back(queued);
    }
    succeed(client);
}

void UsbfsNodeHandler::reapUrb(UMockdevIoctlClient* client) {
    QueuedUrb reaped;
    {
        std::lock_guard lock(mutex_);
        const auto own = std::find_if(completed_.begin(), completed_.end(),
                                      [client](const QueuedUrb& queued) { return queued.client == client; });
        if (own == completed_.end()) return fail(client, EAGAIN);
        reaped = *own;
        completed_.erase(own);
    }
    // The argument points at the program's pointer variable, which receives the URB.
    UMockdevIoctlData* slot =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
    if (slot == nullptr || !umockdev_ioctl_data_set_ptr(slot, 0, reaped.urb)) {
        if (slot != nullptr) g_object_unref(slot);
        release(reaped);
        return fail(client, EFAULT);
    }
    succeed(client);
    g_object_unref(slot);
    release(reaped);
}

void UsbfsNodeHandler::discardUrb(UMockdevIoctlClient* client) {
    // The argument is the URB's address in the program, as it was submitted.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    if (arg->data_len < static_cast<gint>(sizeof address)) return fail(client, EINVAL);
    std::memcpy(&address, arg->data, sizeof address);
    std::lock_guard lock(mutex_);
    auto found = std::find_if(pending_.begin(), pending_.end(), [address, client](const QueuedUrb& queued) {
        return queued.client == client && queued.urb->client_addr == address;
    });
    // Already completed: too late to discard, as the kernel says.
    if (found == pending_.end()) return fail(client, EINVAL);
    usbdevfs_urb* urb = urbOf(found->urb);
    urb->status = -ENOENT;
    urb->actual_length = 0;
    completed_.push_back(*found);
    pending_.erase(found);
    ++discarded_;
    succeed(client);
}

void UsbfsNodeHandler::dropAllUrbs() {
    std::lock_guard lock(mutex_);
    for (QueuedUrb& queued : completed_) release(queued);
    for (QueuedUrb& queued : pending_) release(queued);
    completed_.clear();
    pending_.clear();
}

void UsbfsNodeHandler::dropUrbsOf(UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const auto dropped = [client](QueuedUrb& queued) {
        if (queued.client != client) return false;
        release(queued);
        return true;
    };
    std::erase_if(completed_, dropped);
    std::erase_if(pending_, dropped);
}

int UsbfsNodeHandler::discardedUrbs() const {
    std::lock_guard lock(mutex_);
    return discarded_;
}

}  // namespace velmora::usbfs
