#pragma once
// Serves the usbfs ioctls of one device node, that is one enumeration of one
// device on the simulated bus. Control URBs go to the hub model, the same object
// the in-process platform talks to; the answers come back as the kernel gives
// them: a stall as -EPIPE, a vanished device as ENODEV, a transfer the hub never
// answers as a URB that stays in flight until libusb discards it.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "device/simulated/SimulatedHub.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace velmora::usbfs {

class UsbfsNodeHandler {
public:
    // hub is null for a plain device, which stalls every request.
    UsbfsNodeHandler(std::shared_ptr<sim::SimulatedHub> hub, std::uint64_t enumeration);
    ~UsbfsNodeHandler();
    UsbfsNodeHandler(const UsbfsNodeHandler&) = delete;
    UsbfsNodeHandler& operator=(const UsbfsNodeHandler&) = delete;

    UMockdevIoctlBase* ioctlBase() const { return base_; }

    // URBs libusb gave up on and discarded (it does so when a transfer times out).
    int discardedUrbs() const;

private:
    // A URB belongs to the program (the open node) that submitted it: only that
    // one reaps or discards it, as with the kernel. A program killed while its
    // URB was with the hub must not hand that URB (an address in a process that
    // is gone) to the next program that opens the node.
    struct QueuedUrb {
        UMockdevIoctlData* urb = nullptr;       // a reference we hold
        UMockdevIoctlClient* client = nullptr;  // a reference too, so its address is not reused
    };

    static int onIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    static void onClientVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    static void release(QueuedUrb& queued);
    void dropUrbsOf(UMockdevIoctlClient* client);
    bool handle(UMockdevIoctlClient* client);
    void submitUrb(UMockdevIoctlClient* client);
    void reapUrb(UMockdevIoctlClient* client);
    void discardUrb(UMockdevIoctlClient* client);
    void dropAllUrbs();

    std::shared_ptr<sim::SimulatedHub> hub_;
    std::uint64_t enumeration_;
    UMockdevIoctlBase* base_ = nullptr;

    mutable std::mutex mutex_;
    std::deque<QueuedUrb> completed_;  // waiting to be reaped
    std::vector<QueuedUrb> pending_;   // unanswered by the hub
    int discarded_ = 0;
};

}  // namespace velmora::usbfs
