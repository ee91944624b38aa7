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
#include "device/FlashSpan.h"
#include "device/HubStatus.h"
#include "device/UsbPlatform.h"

namespace velmora {

class SupportedDeviceTable;

// How long one control request may take before it is abandoned, unless the
// connection is given another limit. libusb has no default of its own; the hub
// answers every request but the erase well within it.
inline constexpr Milliseconds kControlTransferTimeout{5000};

// How long an erase request may take. The hub answers the erase only once the
// chip erase is done, and a chip erase of a larger or older NOR part can take tens
// of seconds (their data sheets allow up to 20 s and more), far beyond the limit
// every other request needs; with that limit all three attempts could time out on
// a flash that was merely slow.
inline constexpr Milliseconds kEraseRequestTimeout{30000};

// What is said of a hub whose port another run of this program holds (refusedAsBusy).
inline constexpr const char* kHubBusyText = "Zelo Hub is busy: another update program is using it\n";

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
    // ignored (the open succeeds even when the hub stalls it), except "no device":
    // the hub that was listed has left the bus, so the open has failed.
    // The hub's port is claimed first; a port that another run holds fails the
    // open at once (refusedAsBusy), without waiting.
    bool openHub();
    // The same, for the hub on one port only: the reopen after a reset, which must
    // reach the hub that was reset and no other. A device listed under leftKey (the
    // platform key of the device the reset sent away) is not opened: a listing can
    // lag behind the bus, and a virtual host controller even hands such a device's
    // requests to whatever is on the port now, until the kernel removes it.
    bool openHubAt(const std::string& portPath, const std::string& leftKey = {});
    void closeHub();  // harmless when nothing is open
    IOReturn deviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                           std::uint16_t wIndex, std::uint16_t wLength, void* data);
    // The same with a limit of its own for this one request.
    IOReturn deviceRequest(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                           std::uint16_t wIndex, std::uint16_t wLength, void* data, Milliseconds timeout);

    bool isOpen() const { return device_ != nullptr; }
    // The port of the open hub; empty when nothing is open.
    const std::string& openPortPath() const { return openPort_; }
    // The platform's key of the open hub's device ("002/005"); empty when nothing is open.
    std::string openPlatformKey() const { return device_ ? openDevice_.platformKey : std::string{}; }
    // True when the last open failed because another run (another connection or
    // another process) holds the hub's port.
    bool refusedAsBusy() const { return refusedAsBusy_; }
    // With refusedAsBusy: the port another run holds, and its holder as far as the
    // platform knows it.
    const std::optional<HeldPortLock>& busyPort() const { return busyPort_; }
    // For when no supported hub is listed: the port of one that another run holds.
    // That hub is then off the bus for a moment, restarting under that run, so the
    // listing cannot show it. An open that finds no hub asks this too, and is then
    // refused as busy, as if the hub had been listed. A pinned connection looks at
    // its own port only; a port this connection holds itself (its own hub, away in
    // its reset) never counts.
    std::optional<HeldPortLock> portHeldByAnotherRun();

    // While held, closing the hub keeps its port claimed, and opens reach only the
    // hub on that port: a workflow holds the hub from its first open to its end,
    // across the resets after which the hub comes back as a new device, so no other
    // run can take it between steps. Holds nest; the last release lets the port go.
    void beginPortHold() { ++portHolds_; }
    void endPortHold();

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
    // The limit of an erase request (kEraseRequestTimeout unless a test shortens it).
    void setEraseTimeout(Milliseconds timeout) { eraseTimeout_ = timeout; }
    Milliseconds eraseTimeout() const { return eraseTimeout_; }
    Clock& clock() { return clock_; }
    UsbPlatform& platform() { return platform_; }
    const SupportedDeviceTable& table() const { return table_; }

    // Sees every request that reaches the platform, with its status (for --trace).
    using RequestObserver = std::function<void(const UsbSetup&, IOReturn)>;
    void setRequestObserver(RequestObserver observer) { observer_ = std::move(observer); }

    // Told, while a reset wait lasts, how long it has waited for the hub to come
    // back (every kWaitReportInterval or so), and once more when the wait ends.
    struct ResetWait {
        std::uint8_t resetCode = 0;
        Milliseconds waited{0};
        bool ended = false;
    };
    using WaitObserver = std::function<void(const ResetWait&)>;
    void setWaitObserver(WaitObserver observer) { waitObserver_ = std::move(observer); }
    const WaitObserver& waitObserver() const { return waitObserver_; }
    // What the hub shows of itself while a run drives it, for the run's record: the
    // device each open reached, and every status the hub gave. The connection does
    // not look into the answers it carries: VC_ReadHubStatus, which parses the
    // status, tells it through noteStatus.
    struct HubSighting {
        UsbDeviceInfo device;
        std::optional<HubStatus> status;  // set when a status block was read
    };
    using SightingObserver = std::function<void(const HubSighting&)>;
    void setSightingObserver(SightingObserver observer) { sightingObserver_ = std::move(observer); }
    void noteStatus(const HubStatus& status);
    // What holds the host off this hub while its flash is rewritten (FlashSpan);
    // none: nothing is held. The composition root sets it on every connection.
    void setFlashSpanHost(FlashSpanHost* host) { flashSpanHost_ = host; }
    FlashSpanHost* flashSpanHost() const { return flashSpanHost_; }

private:
    bool isCandidate(const UsbDeviceInfo& device) const;
    bool openFirst(const std::optional<std::string>& portPath, const std::string& leftKey = {});
    bool openListed(const UsbDeviceInfo& device);
    bool claimPortOf(const std::string& portPath);
    void releaseClaimUnlessHeld();
    std::optional<HeldPortLock> runHolding(const std::optional<std::string>& portPath);
    void refuseAsBusy(HeldPortLock held);

    UsbPlatform& platform_;
    const SupportedDeviceTable& table_;
    Clock& clock_;
    std::optional<std::string> portPath_;
    std::unique_ptr<PortClaim> claim_;  // destroyed after device_: the port outlives the handle
    std::string claimedPort_;
    int portHolds_ = 0;
    bool refusedAsBusy_ = false;
    std::optional<HeldPortLock> busyPort_;
    std::unique_ptr<UsbDevice> device_;
    std::string openPort_;
    UsbDeviceInfo openDevice_;
    RequestObserver observer_;
    WaitObserver waitObserver_;
    SightingObserver sightingObserver_;
    FlashSpanHost* flashSpanHost_ = nullptr;
    OpenFailure lastOpenFailure_;
    Milliseconds controlTimeout_ = kControlTransferTimeout;
    Milliseconds eraseTimeout_ = kEraseRequestTimeout;
};

// Holds the connection's port for a scope: a workflow's run, from its first open
// to its end.
class PortHold {
public:
    explicit PortHold(HubConnection& connection) : connection_(connection) { connection_.beginPortHold(); }
    ~PortHold() { connection_.endPortHold(); }
    PortHold(const PortHold&) = delete;
    PortHold& operator=(const PortHold&) = delete;

private:
    HubConnection& connection_;
};

}  // namespace velmora
