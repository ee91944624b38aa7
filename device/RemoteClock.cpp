#include "device/RemoteClock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace velmora {

namespace {

bool sendAll(int descriptor, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t sent = send(descriptor, next, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        next += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool receiveAll(int descriptor, void* bytes, std::size_t size) {
    auto* next = static_cast<char*>(bytes);
    while (size > 0) {
        const ssize_t received = recv(descriptor, next, size, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return false;
        next += received;
        size -= static_cast<std::size_t>(received);
    }
    return true;
}

}  // namespace

RemoteClock::~RemoteClock() {
    if (descriptor_ >= 0) close(descriptor_);
}

Milliseconds RemoteClock::exchange(std::int64_t request) const {
    std::lock_guard lock(mutex_);
    std::int64_t answer = 0;
    if (descriptor_ >= 0 && sendAll(descriptor_, &request, sizeof request) &&
        receiveAll(descriptor_, &answer, sizeof answer))
        lastKnown_ = Milliseconds{answer};
    return lastKnown_;
}

Milliseconds RemoteClock::now() const {
    return exchange(kRemoteClockAskTime);
}

void RemoteClock::sleepFor(Milliseconds duration) {
    exchange(duration.count() > 0 ? static_cast<std::int64_t>(duration.count()) : 0);
}

}  // namespace velmora
