#pragma once
// The USB/IP device server: the third transport of the simulated hub, beside the
// in-process platform and the emulated usbfs. It plugs the hub into the kernel's
// virtual host controller while the hub is on the bus, answers the URBs the
// kernel sends for endpoint 0, and unplugs it when the hub leaves the bus (a
// reset), so that the kernel sees the hub go and, after its reboot time, come
// back on the same port as a new device.
#include <cstdint>
#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "device/Clock.h"
#include "device/simulated/SimulatedHub.h"
#include "usbip/HubEndpointZero.h"
#include "usbip/UsbipProtocol.h"
#include "usbip/VirtualHostController.h"

namespace velmora::usbip {

class UsbipServer {
public:
    // log gets one line per attach, detach and failure.
    UsbipServer(sim::SimulatedHub& hub, VirtualHostController& controller, std::ostream& log);
    ~UsbipServer();
    UsbipServer(const UsbipServer&) = delete;
    UsbipServer& operator=(const UsbipServer&) = delete;

    // One round: plugs the hub in if it is on the bus and not plugged in, serves
    // the requests that arrive within wait (0: only those already there), and
    // unplugs it once it has left the bus.
    void serveFor(Milliseconds wait);
    // Unplugs the hub if it is plugged in.
    void stop();

    bool attached() const { return socket_ >= 0; }
    int attachments() const { return attachments_; }

private:
    void attach();
    void detach();
    void dropConnection();
    void unplugOnceAnswered();
    bool serveOne();
    bool serveSubmit(const Submit& submit);
    bool serveUnlink(const Unlink& unlink);
    bool send(const HeaderBytes& header, const std::vector<std::uint8_t>& data);
    bool hubLeft();

    sim::SimulatedHub& hub_;
    VirtualHostController& controller_;
    std::ostream& log_;
    int socket_ = -1;
    std::unique_ptr<HubEndpointZero> endpoint_;
    std::set<std::uint32_t> unanswered_;  // submits a hub that never answers holds
    int attachments_ = 0;
    int unreadRounds_ = 0;  // rounds the hub has been gone with an answer still unread
    // After a failed attach the controller is left alone until the hub re-enumerates.
    std::uint64_t refusedEnumeration_ = 0;
};

}  // namespace velmora::usbip
