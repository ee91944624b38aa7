#pragma once
// The in-process transport: the platform layer served by a simulated bus, so
// every layer above the platform runs unchanged against simulated hubs.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "device/ArrivalLog.h"
#include "device/UsbHalves.h"
#include "device/UsbPlatform.h"
#include "device/simulated/SimulatedBus.h"

namespace velmora::sim {

class SimulatedUsbPlatform final : public UsbPlatform {
public:
    explicit SimulatedUsbPlatform(SimulatedBus& bus) : bus_(bus) {}

    std::vector<UsbDeviceInfo> listDevices() override;
    // The bus's stand-in for the advisory lock: one holder per port.
    ClaimResult claimPort(const std::string& portPath) override;
    // The ports the bus has claimed: one process, so every other connection's,
    // whose holder it cannot name.
    std::vector<HeldPortLock> portsHeldElsewhere() override;
    OpenResult openDevice(const UsbDeviceInfo& device) override;
    bool setHotplugCallback(HotplugCallback callback) override;
    // Delivers the arrivals and removals seen since the last look at the bus. With
    // nothing to deliver it waits up to timeout in real time, looking again now and then.
    void pollEvents(std::chrono::milliseconds timeout) override;
    // Every look at the bus (a listing, an open, a poll) counts the devices that
    // appeared since the one before, whoever looked.
    std::uint64_t arrivalsAt(const std::string& portPath) override;
    // Sleeps on the bus's clock until the hub on the port is due back from its
    // reboot, or to the deadline, then looks.
    bool waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                        Clock& clock) override;

private:
    struct Event {
        UsbHotplugEvent kind;
        UsbDeviceInfo device;
    };
    std::vector<BusDevice> lookAtBus();  // also queues the changes since the last look
    void deliverEvents();

    SimulatedBus& bus_;
    std::mutex mutex_;
    std::map<std::string, UsbDeviceInfo> lastSeen_;  // by platform key
    std::deque<Event> pending_;
    HotplugCallback callback_;
    ArrivalLog arrivals_;
    UsbHalfPairing halves_{peerPortOf};
};

}  // namespace velmora::sim
