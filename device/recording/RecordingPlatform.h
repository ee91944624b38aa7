#pragma once
// A platform that records: it passes every call on to the platform under it and
// writes each exchange (listings, claims, opens, every control transfer with its
// bytes, status and duration, arrivals and departures) to a recording as it ends.
// The program above it runs unchanged.
#include <memory>

#include "device/Clock.h"
#include "device/UsbPlatform.h"
#include "device/recording/RecordingFile.h"

namespace velmora::recording {

class RecordingPlatform final : public UsbPlatform {
public:
    // Times are taken on clock, the one the program waits on. The writer and the
    // platform under it must outlive this one and every device it opened.
    RecordingPlatform(UsbPlatform& inner, Clock& clock, RecordingWriter& writer)
        : inner_(inner), clock_(clock), writer_(writer), origin_(clock.now()) {}

    std::vector<UsbDeviceInfo> listDevices() override;
    ClaimResult claimPort(const std::string& portPath) override;
    OpenResult openDevice(const UsbDeviceInfo& device) override;
    bool setHotplugCallback(HotplugCallback callback) override;
    void pollEvents(std::chrono::milliseconds timeout) override;
    std::uint64_t arrivalsAt(const std::string& portPath) override;
    bool waitForArrival(const std::string& portPath, std::uint64_t seen, Milliseconds deadline,
                        Clock& clock) override;

private:
    Exchange begin(ExchangeKind kind, std::string port = {}) const;
    void end(Exchange& exchange) const;  // stamps the duration and writes it

    UsbPlatform& inner_;
    Clock& clock_;
    RecordingWriter& writer_;
    Milliseconds origin_;  // the recording's times count from here
};

}  // namespace velmora::recording
