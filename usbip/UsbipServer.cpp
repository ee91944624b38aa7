#include "usbip/UsbipServer.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "app/Hex.h"

namespace velmora::usbip {

namespace {

constexpr std::uint32_t kEndpointZero = 0;
// How soon a hub off the bus is looked at again: how late at most a returning hub
// is plugged in.
constexpr Milliseconds kRecheck{20};
constexpr std::uint32_t kStatusEndpointNumber = sim::kHubStatusEndpoint & 0x0F;

bool readExactly(int socket, std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t got = ::recv(socket, bytes, count, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeExactly(int socket, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t put = ::send(socket, bytes, count, MSG_NOSIGNAL);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

// Stays the same for the life of one enumeration of one face; the kernel only echoes it.
std::uint32_t deviceIdFor(std::uint64_t enumeration, std::size_t face) {
    return static_cast<std::uint32_t>(face + 1) << 16 | static_cast<std::uint32_t>(enumeration & 0xFFFF);
}

std::string faceName(const sim::HubFace& face) {
    const char* speed = face.superSpeed ? "SuperSpeed" : "High-Speed";
    if (face.kind == sim::FaceKind::HubHalf) return std::string(speed) + " half";
    return std::string("ROM code device (") + speed + ")";
}

}  // namespace

// Stamped with the time since boot, as the kernel stamps its log, so that the two
// read side by side.
void ServerLog::line(const std::string& text) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%5lld.%03ld] ", static_cast<long long>(now.tv_sec),
                  now.tv_nsec / 1000000);
    std::lock_guard lock(mutex_);
    out_ << stamp << text << '\n';
    out_.flush();
}

UsbipServer::UsbipServer(sim::SimulatedHub& hub, VirtualHostController& controller, PortPair ports,
                         ServerLog& log, std::string name)
    : hub_(hub), controller_(controller), ports_(ports), log_(log), name_(std::move(name)) {}

UsbipServer::~UsbipServer() {
    stop();
}

void UsbipServer::stop() {
    if (attached()) detachAll();
}

std::size_t UsbipServer::facesAttached() const {
    std::size_t count = 0;
    for (const Face& face : faces_) count += face.socket >= 0 ? 1 : 0;
    return count;
}

bool UsbipServer::attached() const {
    return facesAttached() > 0;
}

void UsbipServer::log(const std::string& text) {
    log_.line("usbip: " + name_ + ": " + text);
}

bool UsbipServer::hubLeft() {
    return !hub_.isOnBus() || hub_.enumeration() != enumeration_;
}

// The faces of a new enumeration are taken from the hub; within one, a face the
// kernel dropped is plugged in again.
void UsbipServer::attach() {
    if (!hub_.isOnBus()) return;
    const std::uint64_t enumeration = hub_.enumeration();
    if (enumeration == refusedEnumeration_) return;
    if (faces_.empty() || enumeration != enumeration_) {
        faces_.clear();
        for (sim::HubFace& shown : hub_.faces()) {
            Face face;
            face.endpoint = std::make_unique<HubEndpointZero>(hub_, std::move(shown));
            face.port = ports_.port(face.endpoint->face().superSpeed);
            faces_.push_back(std::move(face));
        }
        enumeration_ = enumeration;
    }
    // The SuperSpeed half first, as a host usually finds it first.
    for (std::size_t index = 0; index < faces_.size(); ++index) {
        if (faces_[index].socket >= 0 || attachFace(faces_[index], index)) continue;
        refusedEnumeration_ = enumeration;
        detachAll();
        return;
    }
}

bool UsbipServer::attachFace(Face& face, std::size_t index) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        log("no socket pair");
        return false;
    }
    // A face plugged in again starts afresh, unconfigured.
    face.endpoint = std::make_unique<HubEndpointZero>(hub_, face.endpoint->face());
    const sim::HubFace& shown = face.endpoint->face();
    std::string error;
    const bool plugged =
        controller_.attach(ends[1], face.port, deviceIdFor(enumeration_, index), shown.superSpeed, error);
    ::close(ends[1]);  // the controller holds its own reference now
    if (!plugged) {
        ::close(ends[0]);
        log("the host controller refused the " + faceName(shown) + ": " + error);
        return false;
    }
    face.socket = ends[0];
    ++attachments_;
    log(faceName(shown) + " attached as " + hexIds(shown.vendorId, shown.productId, HexCase::Lower) +
        " on port " + std::to_string(face.port) + ", enumeration " + std::to_string(enumeration_));
    return true;
}

void UsbipServer::detachAll() {
    for (Face& face : faces_) {
        if (face.socket < 0) continue;
        std::string error;
        if (!controller_.detach(face.port, error)) log(error);
        dropConnection(face);
        log(faceName(face.endpoint->face()) + " detached");
    }
    unreadRounds_ = 0;
}

void UsbipServer::dropConnection(Face& face) {
    ::close(face.socket);
    face.socket = -1;
    face.held.clear();
}

void UsbipServer::serveFor(Milliseconds wait) {
    attach();
    std::vector<pollfd> ready;
    std::vector<Face*> polled;
    const auto collect = [&] {
        ready.clear();
        polled.clear();
        for (Face& face : faces_) {
            if (face.socket < 0) continue;
            ready.push_back({face.socket, POLLIN, 0});
            polled.push_back(&face);
        }
        return !ready.empty();
    };
    // Off the bus, or gone with an answer still unread: looked at again soon. On
    // the bus, the hub leaves only through a request served here, so the round
    // may be long.
    const int soon = static_cast<int>(std::min(wait, kRecheck).count());
    if (!collect()) {
        if (soon > 0) ::poll(nullptr, 0, soon);
        return;
    }
    int timeout = hubLeft() ? soon : static_cast<int>(wait.count());
    while (::poll(ready.data(), ready.size(), timeout) > 0) {
        for (std::size_t index = 0; index < ready.size(); ++index) {
            if (ready[index].revents == 0 || serveOne(*polled[index])) continue;
            // The controller closed the cable (the kernel detached the port itself).
            dropConnection(*polled[index]);
            log("the host controller dropped the " + faceName(polled[index]->endpoint->face()));
        }
        if (hubLeft() || !collect()) break;
        timeout = 0;
    }
    if (attached() && hubLeft()) unplugOnceAnswered();
}

// A hub that resets answers the reset request before it drops off the bus. The
// kernel must have read that answer before the cables are pulled, or the request
// fails; a kernel that reads nothing more is unplugged after a while anyway.
void UsbipServer::unplugOnceAnswered() {
    constexpr int kLongestUnreadRounds = 50;
    for (const Face& face : faces_) {
        int unread = 0;
        if (face.socket >= 0 && ::ioctl(face.socket, SIOCOUTQ, &unread) == 0 && unread > 0 &&
            ++unreadRounds_ < kLongestUnreadRounds)
            return;
    }
    detachAll();
}

bool UsbipServer::serveOne(Face& face) {
    HeaderBytes header{};
    if (!readExactly(face.socket, header.data(), header.size())) return false;
    const std::optional<Request> request = parseRequest(header);
    if (!request) {
        log("unreadable request from the host controller");
        return false;
    }
    if (request->command == Command::Unlink) return serveUnlink(face, request->unlink);
    return serveSubmit(face, request->submit);
}

bool UsbipServer::serveSubmit(Face& face, const Submit& submit) {
    std::vector<std::uint8_t> outData;
    if (!submit.deviceToHost && submit.transferLength > 0) {
        outData.resize(static_cast<std::size_t>(submit.transferLength));
        if (!readExactly(face.socket, outData.data(), outData.size())) return false;
    }
    if (submit.endpoint != kEndpointZero) {
        // The status endpoint reports a port that changed; the ports stay empty,
        // so its request waits until the host takes it back.
        if (submit.endpoint == kStatusEndpointNumber && submit.deviceToHost &&
            face.endpoint->hasStatusEndpoint()) {
            face.held.insert(submit.seqnum);
            return true;
        }
        return send(face, submitReply(submit.seqnum, -EPIPE, 0), {});
    }
    EndpointZeroAnswer answer = face.endpoint->answer(submit.setup, outData);
    if (answer.unanswered) {
        face.held.insert(submit.seqnum);
        return true;
    }
    if (submit.deviceToHost && answer.data.size() > static_cast<std::size_t>(submit.transferLength))
        answer.data.resize(static_cast<std::size_t>(submit.transferLength));
    const std::int32_t actual =
        submit.deviceToHost ? static_cast<std::int32_t>(answer.data.size()) : answer.actualLength;
    if (!submit.deviceToHost) answer.data.clear();  // only a device-to-host reply carries data
    return send(face, submitReply(submit.seqnum, answer.status, actual), answer.data);
}

bool UsbipServer::serveUnlink(Face& face, const Unlink& unlink) {
    // -ECONNRESET: taken back before it completed; 0: it had completed already.
    const bool held = face.held.erase(unlink.victim) > 0;
    return send(face, unlinkReply(unlink.seqnum, held ? -ECONNRESET : 0), {});
}

bool UsbipServer::send(const Face& face, const HeaderBytes& header, const std::vector<std::uint8_t>& data) {
    return writeExactly(face.socket, header.data(), header.size()) &&
           (data.empty() || writeExactly(face.socket, data.data(), data.size()));
}

}  // namespace velmora::usbip
