#pragma once
// The simulated bus shown to libusb through umockdev: every device present on
// the bus gets a sysfs folder, udev properties and a usbfs node served by the hub
// model. The testbed mirrors the bus: a hub that resets leaves (a "remove" uevent,
// its node gone) and, after its reboot time, comes back under the next device
// number (an "add" uevent), which is what libusb's hot-plug support and a fresh
// device walk see on a real machine.
//
// Create the testbed before the first libusb_init() of the process and destroy
// it after the last libusb_exit(). The program that talks to it (this process or
// a child) must run with libumockdev-preload loaded (see PreloadEnvironment.h).
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/Clock.h"
#include "device/PortLock.h"
#include "device/simulated/SimulatedBus.h"
#include "testbed/UsbfsNodeHandler.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace velmora::usbfs {

class UsbfsTestbed {
public:
    // Serves the bus's devices as they are now; call sync() after changing them.
    explicit UsbfsTestbed(sim::SimulatedBus& bus);
    ~UsbfsTestbed();
    UsbfsTestbed(const UsbfsTestbed&) = delete;
    UsbfsTestbed& operator=(const UsbfsTestbed&) = delete;

    // Brings the emulation in line with the bus: removals first, then arrivals,
    // each with its uevent. Safe to call from any thread.
    void sync();

    // For a program that waits in real time (a child process, the launcher): a
    // thread that syncs every interval until the testbed is destroyed.
    void watchInRealTime(Milliseconds interval);

    // The folder umockdev emulates the system in (UMOCKDEV_DIR).
    std::string rootDirectory() const;

    // Discarded URBs over every node served so far.
    int discardedUrbs() const;
    int removals() const;
    int arrivals() const;

private:
    struct Node {
        std::string sysfsPath;
        std::string deviceNode;
        std::unique_ptr<UsbfsNodeHandler> handler;
        // Held for a hub that another driver claims: on this platform that
        // holder is whoever has the port's advisory lock.
        PortLock heldElsewhere;
    };
    void removeLocked(const std::string& key);
    void addLocked(const sim::BusDevice& device);
    void stopWatching();

    sim::SimulatedBus& bus_;
    UMockdevTestbed* testbed_ = nullptr;

    mutable std::mutex mutex_;
    std::map<std::string, Node> present_;
    // Nodes of devices that left: a program may still hold them open, and its
    // requests must keep failing with ENODEV rather than reach a vanished server.
    std::vector<std::unique_ptr<UsbfsNodeHandler>> departed_;
    int removals_ = 0;
    int arrivals_ = 0;

    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace velmora::usbfs
