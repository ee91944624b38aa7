#pragma once
// Where the USB/IP server plugs its hubs in: the kernel's virtual host controller
// takes one end of a connected stream socket and treats it as a cable to a
// device. Attaching is writing "port sockfd devid speed" to the controller's
// attach file (the kernel looks the descriptor up in the writer's own table);
// detaching is writing the port to its detach file, which unplugs the device.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::usbip {

inline constexpr const char* kVhciControllerFolder = "/sys/devices/platform/vhci_hcd.0";
// The kernel's enum usb_device_speed.
inline constexpr unsigned kKernelHighSpeed = 3;
inline constexpr unsigned kKernelSuperSpeed = 5;

// The two ports of one connector: the kernel gives each of its virtual controllers
// a High-Speed and a SuperSpeed root hub with as many ports each, and links the
// ports of the same number as peers, as a real controller's USB 3 connectors are.
// A USB 3 hub's two halves go on the two ports of one pair.
struct PortPair {
    unsigned highSpeed = 0;
    unsigned superSpeed = 0;

    unsigned port(bool superSpeedHalf) const { return superSpeedHalf ? superSpeed : highSpeed; }
    bool operator==(const PortPair&) const = default;
};

// The pairs whose two ports are both free, in the order the status texts list
// them. Each text is one controller's status file: a heading line, then one line
// per port ("hs  0000 004 000 00000000 000000 0-0": speed tag, port number, state,
// ...), its High-Speed ports first, then its SuperSpeed ones in the same order.
std::vector<PortPair> freePortPairs(const std::vector<std::string>& statusTexts);

class VirtualHostController {
public:
    virtual ~VirtualHostController() = default;
    // Hands the controller socket as the cable of a device on port; the caller
    // closes its own copy afterwards. False with a reason when the controller refused it.
    virtual bool attach(int socket, unsigned port, std::uint32_t deviceId, bool superSpeed,
                        std::string& error) = 0;
    virtual bool detach(unsigned port, std::string& error) = 0;
};

// The kernel's vhci-hcd through its sysfs files, all of which sit in the first
// controller's folder: "status" for the first controller, "status.1" and on for the others.
class SysfsHostController final : public VirtualHostController {
public:
    explicit SysfsHostController(std::string folder = kVhciControllerFolder) : folder_(std::move(folder)) {}
    bool attach(int socket, unsigned port, std::uint32_t deviceId, bool superSpeed,
                std::string& error) override;
    bool detach(unsigned port, std::string& error) override;
    // Every free pair of every controller; false with a reason when there is no status file.
    bool freePairs(std::vector<PortPair>& pairs, std::string& error) const;

private:
    std::string folder_;
};

}  // namespace velmora::usbip
