#include "testbed/ClockServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "device/RemoteClock.h"

namespace velmora::usbfs {

ClockServer::ClockServer(Clock& clock) : clock_(clock) {
    int ends[2] = {-1, -1};
    // Neither end survives an exec by itself: the launcher hands the program its
    // end explicitly (posix_spawn's dup2 onto the same number).
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    serverDescriptor_ = ends[0];
    clientDescriptor_ = ends[1];
    thread_ = std::thread([this] { serve(); });
}

ClockServer::~ClockServer() {
    if (serverDescriptor_ >= 0) shutdown(serverDescriptor_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (serverDescriptor_ >= 0) close(serverDescriptor_);
    releaseClientDescriptor();
}

void ClockServer::releaseClientDescriptor() {
    if (clientDescriptor_ >= 0) close(clientDescriptor_);
    clientDescriptor_ = -1;
}

void ClockServer::serve() {
    for (;;) {
        std::int64_t request = 0;
        const ssize_t received = recv(serverDescriptor_, &request, sizeof request, MSG_WAITALL);
        if (received < 0 && errno == EINTR) continue;
        if (received != static_cast<ssize_t>(sizeof request)) return;  // the program has gone
        if (request != kRemoteClockAskTime) clock_.sleepFor(Milliseconds{request});
        const std::int64_t now = clock_.now().count();
        if (send(serverDescriptor_, &now, sizeof now, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof now))
            return;
    }
}

}  // namespace velmora::usbfs
