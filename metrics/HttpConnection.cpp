#include "metrics/HttpConnection.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace velmora::metrics {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kMetricsPath = "/metrics";
constexpr std::size_t kReceiveChunk = 4096;

// The library's own socket stream waits a fixed time for each piece of a request
// and keeps whatever line it is sent, however long. This one gives the whole
// request a byte budget and a deadline, and the whole answer a deadline, and
// gives up at once when the server stops.
class BoundedStream final : public httplib::Stream {
public:
    BoundedStream(int socket, int stop, const ServerLimits& limits)
        : socket_(socket),
          stop_(stop),
          budget_(limits.requestBytes),
          readDeadline_(SteadyClock::now() + limits.requestTime),
          responseTime_(limits.responseTime) {}

    bool is_readable() const override { return position_ < filled_ || waitFor(POLLIN, readDeadline_); }
    bool is_writable() const override { return waitFor(POLLOUT, writeDeadline()); }

    ssize_t read(char* destination, size_t size) override {
        if (position_ == filled_ && !fill()) return failed_ ? -1 : 0;
        const std::size_t count = std::min(size, filled_ - position_);
        std::memcpy(destination, buffer_ + position_, count);
        position_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* source, size_t size) override {
        if (!waitFor(POLLOUT, writeDeadline())) return -1;
        const ssize_t sent = ::send(socket_, source, size, MSG_NOSIGNAL);
        if (sent < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
        return sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        describe(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        describe(::getsockname, ip, port);
    }
    socket_t socket() const override { return socket_; }

private:
    // Refills the buffer; false at the end of the request (failed_ clear), or when
    // the budget is spent, the deadline passed or the connection broke (failed_ set).
    bool fill() {
        position_ = filled_ = 0;
        failed_ = true;
        while (received_ < budget_ && waitFor(POLLIN, readDeadline_)) {
            const ssize_t count = ::recv(socket_, buffer_, std::min(sizeof buffer_, budget_ - received_), 0);
            if (count > 0) {
                filled_ = static_cast<std::size_t>(count);
                received_ += filled_;
                return true;
            }
            if (count == 0) {
                failed_ = false;
                return false;
            }
            if (errno != EAGAIN && errno != EINTR) return false;
        }
        return false;
    }

    SteadyClock::time_point writeDeadline() const {
        if (!writeDeadline_) writeDeadline_ = SteadyClock::now() + responseTime_;
        return *writeDeadline_;
    }

    // True when the socket is ready for events (or broken: the next call says
    // how) before the deadline and before the server stops.
    bool waitFor(short events, SteadyClock::time_point deadline) const {
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return false;
            pollfd watched[2] = {{socket_, events, 0}, {stop_, POLLIN, 0}};
            const int ready = ::poll(watched, 2, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) continue;
            if (watched[1].revents != 0) return false;
            if (watched[0].revents != 0) return true;
        }
    }

    template <typename Lookup>
    void describe(Lookup lookup, std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        char text[INET6_ADDRSTRLEN] = {};
        if (lookup(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return;
        if (address.ss_family == AF_INET6) {
            const auto& six = reinterpret_cast<const sockaddr_in6&>(address);
            ::inet_ntop(AF_INET6, &six.sin6_addr, text, sizeof text);
            port = ntohs(six.sin6_port);
        } else {
            const auto& four = reinterpret_cast<const sockaddr_in&>(address);
            ::inet_ntop(AF_INET, &four.sin_addr, text, sizeof text);
            port = ntohs(four.sin_port);
        }
        ip = text;
    }

    int socket_;
    int stop_;
    std::size_t budget_;
    SteadyClock::time_point readDeadline_;
    std::chrono::milliseconds responseTime_;
    mutable std::optional<SteadyClock::time_point> writeDeadline_;
    char buffer_[kReceiveChunk];
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    std::size_t received_ = 0;
    bool failed_ = false;
};

}  // namespace

// The library's server, used only for what it does with a stream: parse the
// request, route it and write the answer. Its own listening, thread pool and
// socket streams are not used.
class ConnectionHandler::Server final : public httplib::Server {
public:
    explicit Server(MetricsSource source) : source_(std::move(source)) {
        // Everything is decided before routing, so nothing else (and no body)
        // is read for another path or method.
        set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            answer(request, response);
            return HandlerResponse::Handled;
        });
    }

    void serve(httplib::Stream& stream) {
        bool closed = false;
        process_request(stream, true, closed, ignoreRanges);
    }

private:
    // The figures are always sent whole: the library would otherwise answer a
    // request for many overlapping ranges with the body once per range, a
    // request of a few kilobytes making an answer of hundreds of megabytes.
    static void ignoreRanges(httplib::Request& request) {
        request.ranges.clear();
        request.headers.erase("Range");
    }

    void answer(const httplib::Request& request, httplib::Response& response) const {
        if (request.path != kMetricsPath) {
            response.status = 404;
            response.set_content("Not found: the figures are at /metrics\n", "text/plain; charset=utf-8");
        } else if (request.method != "GET" && request.method != "HEAD") {
            response.status = 405;
            response.set_header("Allow", "GET, HEAD");
        } else {
            const ExpositionFormat format = formatForAccept(request.get_header_value("Accept"));
            response.set_content(source_(format), contentType(format));
        }
    }

    MetricsSource source_;
};

ConnectionHandler::ConnectionHandler(MetricsSource source, ServerLimits limits) : limits_(limits) {
    // The library's server ignores SIGPIPE for the whole process when made; the
    // program's own disposition is kept (this layer never lets a write raise it).
    struct sigaction pipeAction {};
    ::sigaction(SIGPIPE, nullptr, &pipeAction);
    server_ = std::make_unique<Server>(std::move(source));
    ::sigaction(SIGPIPE, &pipeAction, nullptr);
}

ConnectionHandler::~ConnectionHandler() = default;

void ConnectionHandler::serve(int socket, int stop) const {
    BoundedStream stream(socket, stop, limits_);
    server_->serve(stream);
}

}  // namespace velmora::metrics
