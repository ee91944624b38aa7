#pragma once
// Where the USB/IP server plugs the hub in: the kernel's virtual host controller
// takes one end of a connected stream socket and treats it as a cable to a
// device. Attaching is writing "port sockfd devid speed" to the controller's
// attach file (the kernel looks the descriptor up in the writer's own table);
// detaching is writing the port to its detach file, which unplugs the device.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::usbip {

inline constexpr const char* kVhciControllerFolder = "/sys/devices/platform/vhci_hcd.0";
// Each controller has as many High-Speed ports as SuperSpeed ones, how many is
// chosen when the kernel is built; its status file lists them ("hs  0000 ...",
// then "ss  0015 ..."). A device may only be attached to a port of its speed.
inline constexpr const char* kHighSpeedPortTag = "hs";
inline constexpr const char* kSuperSpeedPortTag = "ss";
// The kernel's enum usb_device_speed.
inline constexpr unsigned kKernelHighSpeed = 3;
inline constexpr unsigned kKernelSuperSpeed = 5;

// The number of the first port of the tagged kind in a status file's text.
bool firstPortInStatus(std::string_view status, std::string_view tag, unsigned& port);

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
    // The first port of that speed in the controller's status file.
    bool firstPort(bool superSpeed, unsigned& port, std::string& error) const;

    std::string folder_;
};

}  // namespace velmora::usbip
