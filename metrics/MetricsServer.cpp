#include "metrics/MetricsServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "metrics/HttpConnection.h"
#include "metrics/ListenAddress.h"
#include "metrics/MetricsMessages.h"

namespace velmora::metrics {
namespace {

constexpr int kListenBacklog = 64;
// After the process ran out of descriptors, accepting waits this long before it
// tries again, rather than spinning on a connection it cannot take.
constexpr int kAcceptPauseMilliseconds = 100;
// The answer to a connection beyond the limits, sent without waiting.
constexpr std::string_view kBusyAnswer =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nRetry-After: 1\r\nConnection: close\r\n\r\n";

std::uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

void setPort(sockaddr_storage& address, std::uint16_t port) {
    if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    }
}

socklen_t sizeOf(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

}  // namespace

class MetricsServer::Implementation {
public:
    Implementation(MetricsSource source, ServerLimits limits)
        : handler_(std::move(source), limits), limits_(limits) {}

    ~Implementation() {
        if (stop_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
        }
        if (acceptor_.joinable()) acceptor_.join();
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        for (const int connection : waiting_) ::close(connection);
        for (const int listener : listeners_) ::close(listener);
        if (stop_ >= 0) ::close(stop_);
    }

    bool listen(ListenAddress address, std::string& error) {
        stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stop_ < 0) {
            error = std::strerror(errno);
            return false;
        }
        for (std::size_t index = 0; index < address.sockets.size(); ++index) {
            sockaddr_storage& socketAddress = address.sockets[index];
            if (index > 0) setPort(socketAddress, port_);  // the port the first one got
            const int result = bindOne(socketAddress);
            // localhost's IPv6 address is left out on a host without IPv6.
            const bool optional = index > 0 && (result == EAFNOSUPPORT || result == EADDRNOTAVAIL);
            if (result != 0 && !optional) {
                error = messages::cannotListen(socketAddressText(socketAddress), std::strerror(result));
                return false;
            }
        }
        return true;
    }

    // Starts the threads; false, with error, when the system refuses one.
    bool run(std::string& error) {
        try {
            for (std::size_t index = 0; index < limits_.workers; ++index)
                workers_.emplace_back([this] { work(); });
            acceptor_ = std::thread([this] { acceptConnections(); });
        } catch (const std::system_error& failure) {
            error = failure.what();
            return false;
        }
        return true;
    }

    std::uint16_t port() const { return port_; }
    const std::vector<std::string>& addresses() const { return addresses_; }

private:
    // 0, or the errno that kept the address from being bound.
    int bindOne(sockaddr_storage& address) {
        const int listener = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listener < 0) return errno;
        const int on = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // [::] means every IPv6 address, and no IPv4 one: only what was asked is bound.
        if (address.ss_family == AF_INET6) ::setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_storage bound{};
        socklen_t size = sizeof bound;
        if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeOf(address)) != 0 ||
            ::listen(listener, kListenBacklog) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
            const int error = errno;
            ::close(listener);
            return error;
        }
        listeners_.push_back(listener);
        port_ = portOf(bound);
        addresses_.push_back(socketAddressText(bound));
        return 0;
    }

    void acceptConnections() {
        std::vector<pollfd> watched;
        for (const int listener : listeners_) watched.push_back({listener, POLLIN, 0});
        watched.push_back({stop_, POLLIN, 0});
        while (true) {
            if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) return;
            if (watched.back().revents != 0) return;
            for (std::size_t index = 0; index + 1 < watched.size(); ++index) {
                if (watched[index].revents != 0 && !acceptFrom(watched[index].fd)) pause();
            }
        }
    }

    // Takes every connection waiting on listener; false when it cannot for now
    // (the process or the system out of descriptors or memory).
    bool acceptFrom(int listener) {
        while (true) {
            const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (connection >= 0) {
                admit(connection);
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            // A connection reset before it was taken, an interrupt: take the next.
            if (errno == ECONNABORTED || errno == EINTR || errno == EPROTO) continue;
            return false;
        }
    }

    void pause() {
        pollfd stop{stop_, POLLIN, 0};
        ::poll(&stop, 1, kAcceptPauseMilliseconds);
    }

    void admit(int connection) {
        {
            std::lock_guard lock(mutex_);
            if (open_ < limits_.workers + limits_.waitingConnections) {
                ++open_;
                waiting_.push_back(connection);
                wake_.notify_one();
                return;
            }
        }
        [[maybe_unused]] const ssize_t sent =
            ::send(connection, kBusyAnswer.data(), kBusyAnswer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        ::close(connection);
    }

    void work() {
        while (true) {
            int connection = -1;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
                if (stopping_) return;
                connection = waiting_.front();
                waiting_.pop_front();
            }
            handler_.serve(connection, stop_);
            ::close(connection);
            std::lock_guard lock(mutex_);
            --open_;
        }
    }

    ConnectionHandler handler_;
    ServerLimits limits_;
    int stop_ = -1;  // an eventfd, readable once the server stops
    std::vector<int> listeners_;
    std::uint16_t port_ = 0;
    std::vector<std::string> addresses_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> waiting_;
    std::size_t open_ = 0;  // connections taken and not yet closed: waiting or served
    bool stopping_ = false;
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

MetricsServer::MetricsServer(std::unique_ptr<Implementation> implementation)
    : implementation_(std::move(implementation)) {}

MetricsServer::~MetricsServer() = default;

std::unique_ptr<MetricsServer> MetricsServer::start(std::string_view address, MetricsSource source,
                                                    std::string& error, ServerLimits limits) {
    std::optional<ListenAddress> parsed = parseListenAddress(address, error);
    if (!parsed) return nullptr;
    auto implementation = std::make_unique<Implementation>(std::move(source), limits);
    if (!implementation->listen(std::move(*parsed), error) || !implementation->run(error)) return nullptr;
    return std::unique_ptr<MetricsServer>(new MetricsServer(std::move(implementation)));
}

std::uint16_t MetricsServer::port() const {
    return implementation_->port();
}

const std::vector<std::string>& MetricsServer::addresses() const {
    return implementation_->addresses();
}

}  // namespace velmora::metrics
