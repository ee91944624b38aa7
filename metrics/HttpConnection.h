#pragma once
// One connection to the metrics endpoint: its request read and answered by the
// HTTP library, over a stream that holds the connection to the server's limits.
// The library stays inside this layer's sources.
#include <memory>

#include "metrics/Exposition.h"
#include "metrics/MetricsServer.h"

namespace velmora::metrics {

class ConnectionHandler {
public:
    ConnectionHandler(MetricsSource source, ServerLimits limits);
    ~ConnectionHandler();
    ConnectionHandler(const ConnectionHandler&) = delete;
    ConnectionHandler& operator=(const ConnectionHandler&) = delete;

    // Reads one request from the connected socket (non-blocking) and answers it,
    // within the limits; returns early, without an answer, once stop (a descriptor)
    // becomes readable. Safe from several threads at once. The socket stays open.
    void serve(int socket, int stop) const;

private:
    class Server;
    std::unique_ptr<Server> server_;
    ServerLimits limits_;
};

}  // namespace velmora::metrics
