#pragma once
// Our own model of one hub chip: its identity, its ROM code and flash code, its
// 32 KiB NOR flash and its status block. The model knows nothing of how requests
// reach it: the in-process platform calls handleControl directly, and an emulated
// usbfs or a network transport can call the very same function from its own thread.
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/Clock.h"
#include "device/HubStatus.h"
#include "device/UsbPlatform.h"
#include "device/simulated/HubFaces.h"
#include "device/simulated/HubFaults.h"

namespace velmora::sim {

inline constexpr std::size_t kFlashBytes = 32768;
inline constexpr std::size_t kStatusBlockBytes = vendor::kStatusBlockLength;
// From the reset request until the hub is listed again: the controller's boot
// code loads its firmware from the SPI flash (tens of milliseconds), then the
// host sees the port connect, debounces it (100 ms), resets the port, and
// enumerates the hub's SuperSpeed and High-Speed halves with their descriptors,
// hub class set-up included; about a second and a half on a desktop host.
inline constexpr Milliseconds kDefaultRebootTime{1500};

// How long the hub keeps a flash request before it answers. The default model
// answers at once, so tests count requests and waits and nothing else.
struct FlashTiming {
    Milliseconds erase{0};
    Milliseconds programPerUnit{0};  // per 4096-byte program request (shorter ones in proportion)
    Milliseconds readPerUnit{0};     // per 4096-byte read request
};

// A real hub with a small SPI NOR flash (512 Kbit to 1 Mbit parts, 256-byte
// pages), for benchmarks and the eight-hub scenario:
// - erase: the request's chip erase of such a part, 300 to 500 ms typical in
//   the data sheets; 400 ms.
// - program: 16 page programs of 0.7 ms typical each, plus the 4 KiB data stage
//   over the control pipe at High-Speed (64-byte packets, a few per microframe,
//   about 2 ms); 14 ms per unit.
// - read: 4 KiB clocked out of the flash at 30 MHz or so (about 1 ms) plus the
//   data stage back; 3 ms per unit.
// The reboot time is kDefaultRebootTime.
inline constexpr FlashTiming kRealisticFlashTiming{Milliseconds{400}, Milliseconds{14}, Milliseconds{3}};
inline constexpr std::uint16_t kDefaultRomVersion = 0x0001;

enum class RunState { RomCode, FlashCode };

// What a transport reports for one control transfer. An emulated usbfs answers
// Completed as URB status 0, Stalled as -EPIPE, TimedOut as -ETIMEDOUT and NoDevice
// as -ENODEV, with actualLength as the URB's actual length.
struct ControlAnswer {
    Outcome outcome = Outcome::Completed;
    std::uint16_t actualLength = 0;  // bytes of the data stage moved
};
IOReturn toIOReturn(Outcome outcome);

struct SimulatedHubConfig {
    std::uint16_t vendorId = 0;
    std::uint16_t superSpeedProductId = 0;
    std::uint16_t highSpeedProductId = 0;
    // Plugged into a SuperSpeed port: both halves come up, and the ROM code shows the
    // SSPID. On a USB 2 port only the High-Speed half, and the ROM code the HSPID.
    bool enumeratesAsSuperSpeed = true;
    std::string portPath = "1-1";
    std::uint16_t romVersion = kDefaultRomVersion;
    std::uint8_t waitSelector = 0;
    Milliseconds rebootTime = kDefaultRebootTime;
    FlashTiming flashTiming{};
    // Every request is kept for requests(); a hub that runs for weeks (the soak)
    // keeps none, or its record would grow without end.
    bool keepRequests = true;
};

struct RecordedRequest {
    UsbSetup setup;
    std::array<std::uint8_t, 8> wireBytes{};
    std::vector<std::uint8_t> outData;  // the data stage of a host-to-device request
    ControlAnswer answer;
};

class SimulatedHub {
public:
    SimulatedHub(SimulatedHubConfig config, Clock& clock);
    SimulatedHub(const SimulatedHub&) = delete;
    SimulatedHub& operator=(const SimulatedHub&) = delete;

    // One control transfer. data holds setup.wLength bytes (read from it for
    // host-to-device requests, written to it for device-to-host ones).
    ControlAnswer handleControl(const UsbSetup& setup, std::uint8_t* data);
    // The same, for a transport bound to one enumeration of the hub: once the hub
    // has left the bus and come back, that binding answers only NoDevice.
    ControlAnswer handleControlOn(std::uint64_t enumeration, const UsbSetup& setup, std::uint8_t* data);

    // Bus side.
    const SimulatedHubConfig& config() const { return config_; }
    // The IDs the hub enumerates with now. The ROM code shows the IDs the hub was
    // made with (config); the flash code, like a real hub's, those of the
    // configuration block in its flash, so an image with other IDs makes the hub
    // come back as another device.
    std::uint16_t vendorId();
    std::uint16_t productId();
    // The devices the hub shows on the bus now, the one the in-process bus lists
    // (the SuperSpeed one, when there is one) first.
    std::vector<HubFace> faces();
    // The serial-number string the hub shows now: in its flash code, the third
    // string of the configuration block it booted (as with the IDs); none in its
    // ROM code or when the block holds no serial.
    std::optional<std::string> serialNumber();
    bool isOnBus();
    // When the hub comes back from the reboot it is in; none when it is not
    // rebooting or will not come back by itself.
    std::optional<Milliseconds> returnDueAt();
    // Counts the hub's appearances on the bus; a transport binds to one of them.
    std::uint64_t enumeration();
    void unplug();
    void plugIn();  // powers the hub up again, as from a cable

    // Set-up and inspection.
    RunState runState();
    void setRunState(RunState state);
    void setWaitSelector(std::uint8_t selector);
    void setFaults(HubFaults faults);
    void setFlashTiming(FlashTiming timing);
    // A hub that serves for long (a USB/IP server) keeps no record of its requests.
    void setKeepRequests(bool keep);
    HubFaults faults() const;
    // Erases the flash, stores the image from address 0 and boots from it.
    void loadFlashImage(const std::vector<std::uint8_t>& image);
    std::vector<std::uint8_t> flashContents() const;
    std::array<std::uint8_t, kStatusBlockBytes> statusBlock();
    // The version of the image in flash, if the flash holds a bootable image.
    std::optional<std::uint16_t> imageVersion() const;

    std::vector<RecordedRequest> requests() const;
    void clearRequests();

private:
    // How long the hub is busy with a request that was answered so: the sleep that
    // follows, taken outside the lock so the bus can still be listed meanwhile.
    Milliseconds busyTimeLocked(const UsbSetup& setup, const ControlAnswer& answered) const;
    ControlAnswer handleLocked(const UsbSetup& setup, std::uint8_t* data);
    ControlAnswer answerRequest(RequestKind kind, const UsbSetup& setup, std::uint8_t* data);
    std::optional<Outcome> injectedFailure(RequestKind kind);
    bool takeShortAnswer(RequestKind kind);
    ControlAnswer answerShort(RequestKind kind, const UsbSetup& setup, std::uint8_t* data);
    struct EnumeratedIds {
        std::uint16_t vendorId;
        std::uint16_t superSpeedProductId;
        std::uint16_t highSpeedProductId;
    };
    EnumeratedIds enumeratedIdsLocked();
    std::vector<HubFace> facesLocked();
    ControlAnswer readStatus(const UsbSetup& setup, std::uint8_t* data);
    ControlAnswer writeFlash(const UsbSetup& setup, const std::uint8_t* data);
    ControlAnswer readFlash(const UsbSetup& setup, std::uint8_t* data);
    ControlAnswer readDescriptor(const UsbSetup& setup, std::uint8_t* data);
    std::optional<std::string> serialNumberLocked();
    void startReboot(RunState target, bool returns);
    void cutPowerLocked();
    RunState bootTarget() const;  // where a power-up lands: flash code only with a valid image
    void refreshLocked();
    bool onBusLocked();
    std::optional<std::uint16_t> imageVersionLocked() const;
    std::array<std::uint8_t, kStatusBlockBytes> statusBlockLocked();

    mutable std::mutex mutex_;
    SimulatedHubConfig config_;
    Clock& clock_;
    HubFaults faults_;
    RunState runState_ = RunState::RomCode;
    std::vector<std::uint8_t> flash_;
    bool pluggedIn_ = true;
    bool rebooting_ = false;
    bool returnsFromReboot_ = true;
    Milliseconds rebootEndsAt_{0};
    RunState rebootTarget_ = RunState::RomCode;
    std::uint64_t enumeration_ = 1;
    std::map<RequestKind, int> transferCounts_;
    int requestsHandled_ = 0;       // since the faults were set, for the power cut
    int flashRequestsHandled_ = 0;  // erase and program requests among them
    std::vector<RecordedRequest> requests_;
};

}  // namespace velmora::sim
