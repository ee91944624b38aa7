#include "testbed/UsbfsTestbed.h"

#include <umockdev.h>

#include <cstdio>
#include <set>

#include "testbed/UsbfsDeviceRecord.h"

namespace velmora::usbfs {

namespace {

void reportError(const char* what, GError* error) {
    std::fprintf(stderr, "velmora-usbfs: %s: %s\n", what, error != nullptr ? error->message : "failed");
    if (error != nullptr) g_error_free(error);
}

}  // namespace

UsbfsTestbed::UsbfsTestbed(sim::SimulatedBus& bus) : bus_(bus), testbed_(umockdev_testbed_new()) {
    sync();
}

UsbfsTestbed::~UsbfsTestbed() {
    stopWatching();
    // Releasing the testbed stops umockdev's worker thread, the only caller of
    // the handlers, so they can go after it.
    g_object_unref(testbed_);
    std::lock_guard lock(mutex_);
    present_.clear();
    departed_.clear();
}

void UsbfsTestbed::sync() {
    const std::vector<sim::BusDevice> devices = bus_.presentDevices();
    std::lock_guard lock(mutex_);
    std::set<std::string> keys;
    for (const sim::BusDevice& device : devices) keys.insert(device.info.platformKey);
    std::vector<std::string> gone;
    for (const auto& [key, node] : present_)
        if (!keys.contains(key)) gone.push_back(key);
    for (const std::string& key : gone) removeLocked(key);
    for (const sim::BusDevice& device : devices)
        if (!present_.contains(device.info.platformKey)) addLocked(device);
}

void UsbfsTestbed::removeLocked(const std::string& key) {
    Node& node = present_.at(key);
    // The uevent carries the device's properties, so it has to go out while the
    // device still exists; libusb finds the device to drop by them.
    umockdev_testbed_uevent(testbed_, node.sysfsPath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, node.sysfsPath.c_str());
    departed_.push_back(std::move(node.handler));
    present_.erase(key);
    ++removals_;
}

void UsbfsTestbed::addLocked(const sim::BusDevice& device) {
    const UsbfsDeviceRecord record = describeDevice(device.info, device.superSpeed);
    auto handler = std::make_unique<UsbfsNodeHandler>(device.hub, device.enumeration);

    // The node is served before the device appears, so a program that reacts to
    // the "add" uevent at once finds it working.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, record.deviceNode.c_str(), handler->ioctlBase(), &error))
        return reportError("cannot serve the usbfs node", error);
    // A hub's two halves are paired by their ports' peer links, as on a real
    // machine: laid out before the device appears, so no listing sees it unpaired.
    if (device.hub && !linkPortToPeer(rootDirectory(), device.info.portPath))
        std::fprintf(stderr, "velmora-testbed: cannot link the port of %s to its peer\n",
                     device.info.portPath.c_str());
    if (!umockdev_testbed_add_from_string(testbed_, record.text.c_str(), &error))
        return reportError("cannot add the device", error);
    Node node{record.sysfsPath, record.deviceNode, std::move(handler), PortLock{}};
    if (device.hub && device.hub->faults().heldByAnotherDriver)
        node.heldElsewhere.acquire(device.info.portPath);
    present_[device.info.platformKey] = std::move(node);
    ++arrivals_;
}

void UsbfsTestbed::watchInRealTime(Milliseconds interval) {
    stopWatching();
    {
        std::lock_guard lock(watchMutex_);
        stopping_ = false;
    }
    watcher_ = std::thread([this, interval] {
        std::unique_lock lock(watchMutex_);
        while (!watchWake_.wait_for(lock, interval, [this] { return stopping_; })) {
            lock.unlock();
            sync();
            lock.lock();
        }
    });
}

void UsbfsTestbed::stopWatching() {
    {
        std::lock_guard lock(watchMutex_);
        stopping_ = true;
    }
    watchWake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

std::string UsbfsTestbed::rootDirectory() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string directory = root != nullptr ? root : "";
    g_free(root);
    return directory;
}

int UsbfsTestbed::discardedUrbs() const {
    std::lock_guard lock(mutex_);
    int total = 0;
    for (const auto& [key, node] : present_) total += node.handler->discardedUrbs();
    for (const auto& handler : departed_) total += handler->discardedUrbs();
    return total;
}

int UsbfsTestbed::removals() const {
    std::lock_guard lock(mutex_);
    return removals_;
}

int UsbfsTestbed::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

}  // namespace velmora::usbfs
