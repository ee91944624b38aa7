#pragma once
// The USB/IP device server: the third transport of the simulated hub, beside the
// in-process platform and the emulated usbfs. It plugs one hub chip into the
// kernel's virtual host controller while the hub is on the bus, each face the hub
// shows on the port of its speed (a USB 3 hub's two halves on the two ports of one
// pair), answers the URBs the kernel sends them, and unplugs them when the hub
// leaves the bus (a reset), so that the kernel sees the hub go and, after its
// reboot time, come back on the same ports as new devices.
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "device/Clock.h"
#include "device/simulated/SimulatedHub.h"
#include "usbip/HubEndpointZero.h"
#include "usbip/UsbipProtocol.h"
#include "usbip/VirtualHostController.h"

namespace velmora::usbip {

// Whole lines to one stream, from the servers of several hubs at once.
class ServerLog {
public:
    explicit ServerLog(std::ostream& out) : out_(out) {}
    void line(const std::string& text);

private:
    std::mutex mutex_;
    std::ostream& out_;
};

class UsbipServer {
public:
    // name tells this hub apart in the log ("hub 2").
    UsbipServer(sim::SimulatedHub& hub, VirtualHostController& controller, PortPair ports, ServerLog& log,
                std::string name = "hub");
    ~UsbipServer();
    UsbipServer(const UsbipServer&) = delete;
    UsbipServer& operator=(const UsbipServer&) = delete;

    // One round: plugs in the faces of the hub if it is on the bus and they are not
    // plugged in, serves the requests that arrive within wait (0: only those
    // already there), and unplugs them once the hub has left the bus. A hub off the
    // bus, or on its way off, ends the round after 20 ms at most.
    void serveFor(Milliseconds wait);
    // Unplugs every face that is plugged in.
    void stop();

    bool attached() const;
    std::size_t facesAttached() const;
    int attachments() const { return attachments_; }

private:
    // One face of the hub on its port: the cable to the kernel and what it holds.
    struct Face {
        std::unique_ptr<HubEndpointZero> endpoint;
        unsigned port = 0;
        int socket = -1;
        // Submits held unanswered until the host takes them back: a status
        // endpoint's, which has nothing to report, and a transfer the hub never
        // answers.
        std::set<std::uint32_t> held;
    };

    void attach();
    bool attachFace(Face& face, std::size_t index);
    void detachAll();
    void dropConnection(Face& face);
    void unplugOnceAnswered();
    bool serveOne(Face& face);
    bool serveSubmit(Face& face, const Submit& submit);
    bool serveUnlink(Face& face, const Unlink& unlink);
    bool send(const Face& face, const HeaderBytes& header, const std::vector<std::uint8_t>& data);
    bool hubLeft();
    void log(const std::string& text);

    sim::SimulatedHub& hub_;
    VirtualHostController& controller_;
    PortPair ports_;
    ServerLog& log_;
    std::string name_;
    std::vector<Face> faces_;  // of the enumeration being shown
    std::uint64_t enumeration_ = 0;
    int attachments_ = 0;
    int unreadRounds_ = 0;  // rounds the hub has been gone with an answer still unread
    // After a failed attach the controller is left alone until the hub re-enumerates.
    std::uint64_t refusedEnumeration_ = 0;
};

}  // namespace velmora::usbip
