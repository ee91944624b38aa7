#include "usbip/UsbipServer.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/Hex.h"

namespace velmora::usbip {

namespace {

constexpr std::int32_t kEndpointZero = 0;

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

// Stays the same for the life of one enumeration; the kernel only echoes it.
std::uint32_t deviceIdFor(std::uint64_t enumeration) {
    constexpr std::uint32_t kBusNumber = 1;
    return kBusNumber << 16 | static_cast<std::uint32_t>(enumeration & 0xFFFF);
}

}  // namespace

UsbipServer::UsbipServer(sim::SimulatedHub& hub, VirtualHostController& controller, std::ostream& log)
    : hub_(hub), controller_(controller), log_(log) {}

UsbipServer::~UsbipServer() {
    stop();
}

void UsbipServer::stop() {
    if (attached()) detach();
}

bool UsbipServer::hubLeft() {
    return !hub_.isOnBus() || hub_.enumeration() != endpoint_->enumeration();
}

void UsbipServer::attach() {
    if (!hub_.isOnBus() || hub_.enumeration() == refusedEnumeration_) return;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        log_ << "usbip: no socket pair for the hub\n";
        return;
    }
    auto endpoint = std::make_unique<HubEndpointZero>(hub_);
    std::string error;
    const bool plugged =
        controller_.attach(ends[1], deviceIdFor(endpoint->enumeration()), endpoint->superSpeed(), error);
    ::close(ends[1]);  // the controller holds its own reference now
    if (!plugged) {
        ::close(ends[0]);
        refusedEnumeration_ = endpoint->enumeration();
        log_ << "usbip: the host controller refused the hub: " << error << '\n';
        return;
    }
    socket_ = ends[0];
    endpoint_ = std::move(endpoint);
    ++attachments_;
    log_ << "usbip: hub attached as " << hexIds(hub_.vendorId(), hub_.productId(), HexCase::Lower)
         << (endpoint_->superSpeed() ? " (SuperSpeed)" : " (High-Speed)") << ", enumeration "
         << endpoint_->enumeration() << '\n';
}

void UsbipServer::detach() {
    std::string error;
    if (!controller_.detach(endpoint_->superSpeed(), error)) log_ << "usbip: " << error << '\n';
    dropConnection();
    log_ << "usbip: hub detached\n";
}

void UsbipServer::dropConnection() {
    ::close(socket_);
    socket_ = -1;
    endpoint_.reset();
    unanswered_.clear();
    unreadRounds_ = 0;
}

void UsbipServer::serveFor(Milliseconds wait) {
    if (!attached()) attach();
    if (!attached()) {
        if (wait.count() > 0) ::poll(nullptr, 0, static_cast<int>(wait.count()));
        return;
    }
    pollfd ready{socket_, POLLIN, 0};
    int timeout = static_cast<int>(wait.count());
    while (::poll(&ready, 1, timeout) > 0) {
        if (!serveOne()) {
            // The controller closed the cable (the kernel detached the port itself).
            dropConnection();
            log_ << "usbip: the host controller dropped the hub\n";
            return;
        }
        if (hubLeft()) break;
        timeout = 0;
    }
    if (hubLeft()) unplugOnceAnswered();
}

// A hub that resets answers the reset request before it drops off the bus. The
// kernel must have read that answer before the cable is pulled, or the request
// fails; a kernel that reads nothing more is unplugged after a while anyway.
void UsbipServer::unplugOnceAnswered() {
    constexpr int kLongestUnreadRounds = 50;
    int unread = 0;
    if (::ioctl(socket_, SIOCOUTQ, &unread) == 0 && unread > 0 && ++unreadRounds_ < kLongestUnreadRounds)
        return;
    unreadRounds_ = 0;
    detach();
}

bool UsbipServer::serveOne() {
    HeaderBytes header{};
    if (!readExactly(socket_, header.data(), header.size())) return false;
    const std::optional<Request> request = parseRequest(header);
    if (!request) {
        log_ << "usbip: unreadable request from the host controller\n";
        return false;
    }
    if (request->command == Command::Unlink) return serveUnlink(request->unlink);
    return serveSubmit(request->submit);
}

bool UsbipServer::serveSubmit(const Submit& submit) {
    std::vector<std::uint8_t> outData;
    if (!submit.deviceToHost && submit.transferLength > 0) {
        outData.resize(static_cast<std::size_t>(submit.transferLength));
        if (!readExactly(socket_, outData.data(), outData.size())) return false;
    }
    if (submit.endpoint != kEndpointZero) {
        return send(submitReply(submit.seqnum, -EPIPE, 0), {});  // the hub has no other endpoint
    }
    EndpointZeroAnswer answer = endpoint_->answer(submit.setup, outData);
    if (answer.unanswered) {
        unanswered_.insert(submit.seqnum);
        return true;
    }
    if (submit.deviceToHost && answer.data.size() > static_cast<std::size_t>(submit.transferLength))
        answer.data.resize(static_cast<std::size_t>(submit.transferLength));
    const std::int32_t actual =
        submit.deviceToHost ? static_cast<std::int32_t>(answer.data.size()) : answer.actualLength;
    if (!submit.deviceToHost) answer.data.clear();  // only a device-to-host reply carries data
    return send(submitReply(submit.seqnum, answer.status, actual), answer.data);
}

bool UsbipServer::serveUnlink(const Unlink& unlink) {
    // -ECONNRESET: taken back before it completed; 0: it had completed already.
    const bool held = unanswered_.erase(unlink.victim) > 0;
    return send(unlinkReply(unlink.seqnum, held ? -ECONNRESET : 0), {});
}

bool UsbipServer::send(const HeaderBytes& header, const std::vector<std::uint8_t>& data) {
    return writeExactly(socket_, header.data(), header.size()) &&
           (data.empty() || writeExactly(socket_, data.data(), data.size()));
}

}  // namespace velmora::usbip
