#pragma once
// A platform that passes everything to another but reports no arrivals: every
// wait for a restarting hub then runs the fixed poll schedule, as it did before
// the waits ended on arrival. Tests and benchmarks compare the two.
#include <memory>
#include <string>
#include <vector>

#include "device/UsbPlatform.h"

namespace velmora::testing {

class FixedWaitPlatform final : public UsbPlatform {
public:
    explicit FixedWaitPlatform(UsbPlatform& inner) : inner_(inner) {}

    std::vector<UsbDeviceInfo> listDevices() override { return inner_.listDevices(); }
    ClaimResult claimPort(const std::string& portPath) override { return inner_.claimPort(portPath); }
    OpenResult openDevice(const UsbDeviceInfo& device) override { return inner_.openDevice(device); }
    bool setHotplugCallback(HotplugCallback callback) override {
        return inner_.setHotplugCallback(std::move(callback));
    }
    void pollEvents(std::chrono::milliseconds timeout) override { inner_.pollEvents(timeout); }

private:
    UsbPlatform& inner_;
};

}  // namespace velmora::testing
