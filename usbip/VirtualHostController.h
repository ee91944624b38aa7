#pragma once
// Where the USB/IP server plugs the hub in: the kernel's virtual host controller
// takes one end of a connected stream socket and treats it as a cable to a
// device. Attaching is writing "port sockfd devid speed" to the controller's
// attach file (the kernel looks the descriptor up in the writer's own table);
// detaching is writing the port to its detach file, which unplugs the device.
#include <cstdint>
#include <string>

namespace velmora::usbip {

inline constexpr const char* kVhciControllerFolder = "/sys/devices/platform/vhci_hcd.0";
// The controller's first eight ports are High-Speed, the next eight SuperSpeed;
// a device may only be attached to a port of its own speed.
inline constexpr unsigned kHighSpeedPort = 0;
inline constexpr unsigned kSuperSpeedPort = 8;
// The kernel's enum usb_device_speed.
inline constexpr unsigned kKernelHighSpeed = 3;
inline constexpr unsigned kKernelSuperSpeed = 5;

class VirtualHostController {
public:
    virtual ~VirtualHostController() = default;
    // Hands the controller socket as the hub's cable; the caller closes its own
    // copy afterwards. False with a reason when the controller refused it.
    virtual bool attach(int socket, std::uint32_t deviceId, bool superSpeed, std::string& error) = 0;
    virtual bool detach(bool superSpeed, std::string& error) = 0;
};

// The kernel's vhci-hcd through its sysfs files.
class SysfsHostController final : public VirtualHostController {
public:
    explicit SysfsHostController(std::string folder = kVhciControllerFolder) : folder_(std::move(folder)) {}
    bool attach(int socket, std::uint32_t deviceId, bool superSpeed, std::string& error) override;
    bool detach(bool superSpeed, std::string& error) override;

private:
    std::string folder_;
};

}  // namespace velmora::usbip
