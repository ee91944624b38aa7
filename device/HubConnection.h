#pragma once
// The device connection: at most one opened hub, the path every vendor request
// takes. Each front end creates the program's one connection and hands it to
// everything that drives the hub; a mode that drives several hubs at once uses
// one HubConnection per hub, each pinned to a port path.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/Clock.h"
#include "device/UsbPlatform.h"

namespace velmora {

class SupportedDeviceTable;

// How long one control request may take before it is abandoned, unless the
// connection is given another limit. libusb has no default of its own; the hub
// answers every request, an erase included, well within it.
inline constexpr Milliseconds kControlTransferTimeout{5000};

class HubConnection {
public:
    // portPath, when set, restricts the connection to the hub on that port.
    HubConnection(UsbPlatform& platform, const SupportedDeviceTable& table, Clock& clock,
                  std::optional<std::string> portPath = std::nullopt);
    ~HubConnection();
    HubConnection(const HubConnection&) = delete;
    HubConnection& operator=(const HubConnection&) = delete;

    bool isHubPresent();
    // Opens the first supported hub and sends the open handshake. The handshake is
    // part of the open, so every path that opens the hub (detection, the workflows,
    // the reopen after a reset) sends it and none can forget it. Its status is
    // ignored: the open succeeds even when the hub stalls it.
    bool openHub();
    void closeHub();  // harmless when nothing is open
    IOReturn deviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                           std::uint16_t wIndex, std::uint16_t wLength, void* data);

    bool isOpen() const { return device_ != nullptr; }
    // Why the last openHub failed: the platform's status (kIOReturnNotFound when no
    // supported hub was attached) and, when the port lock refused it, the lock's
    // own words. Cleared by an open that succeeds.
    struct OpenFailure {
        IOReturn status = kIOReturnSuccess;
        std::string lockProblem;
    };
    const OpenFailure& lastOpenFailure() const { return lastOpenFailure_; }
    // The limit for each request from now on (tests shorten it).
    void setControlTimeout(Milliseconds timeout) { controlTimeout_ = timeout; }
    Milliseconds controlTimeout() const { return controlTimeout_; }
    Clock& clock() { return clock_; }
    UsbPlatform& platform() { return platform_; }
    const SupportedDeviceTable& table() const { return table_; }

    // Sees every request that reaches the platform, with its status (for --trace).
    using RequestObserver = std::function<void(const UsbSetup&, IOReturn)>;
    void setRequestObserver(RequestObserver observer) { observer_ = std::move(observer); }

private:
    bool isCandidate(const UsbDeviceInfo& device) const;

    UsbPlatform& platform_;
    const SupportedDeviceTable& table_;
    Clock& clock_;
    std::optional<std::string> portPath_;
    std::unique_ptr<UsbDevice> device_;
    RequestObserver observer_;
    OpenFailure lastOpenFailure_;
    Milliseconds controlTimeout_ = kControlTransferTimeout;
};

}  // namespace velmora
