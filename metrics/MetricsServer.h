#pragma once
// The HTTP endpoint a line's Prometheus scrapes: GET (or HEAD) /metrics answers
// the figures in the format the scraper's Accept header asks for; any other path
// is 404, any other method on /metrics 405. Nothing it does can hold up a
// station: each scrape renders a copy of the figures taken under the registry's
// lock, on the server's own threads.
//
// A slow or hostile client costs a bounded amount: a fixed number of workers and
// of connections waiting for one (more are answered 503 and closed at once), a
// request of at most requestBytes (request line, headers and body together),
// received within requestTime, and an answer sent within responseTime; then the
// connection is closed. One request per connection.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "metrics/Exposition.h"

namespace velmora::metrics {

struct ServerLimits {
    std::size_t workers = 4;
    std::size_t waitingConnections = 16;
    std::size_t requestBytes = 16 * 1024;
    std::chrono::milliseconds requestTime{3000};
    std::chrono::milliseconds responseTime{10000};
};

class MetricsServer {
public:
    // Binds the address ("ADDRESS:PORT", see ListenAddress.h) and serves source on
    // it until destroyed. Nothing, with error saying why, when the address is not
    // one or cannot be bound; nothing listens then.
    static std::unique_ptr<MetricsServer> start(std::string_view address, MetricsSource source,
                                                std::string& error, ServerLimits limits = {});
    ~MetricsServer();  // stops at once, cutting off connections in progress
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // The port bound (the one chosen when 0 was asked for).
    std::uint16_t port() const;
    // The addresses bound, as "127.0.0.1:9464" or "[::1]:9464".
    const std::vector<std::string>& addresses() const;

    class Implementation;

private:
    explicit MetricsServer(std::unique_ptr<Implementation> implementation);
    std::unique_ptr<Implementation> implementation_;
};

}  // namespace velmora::metrics
