#pragma once
// Ports in the bus's own order: bus 1 before bus 2, port 1-2 before 1-10, and a
// hub's port before the ports behind it (1-4 before 1-4.1). Units that arrive
// together start, take their scanned IDs and show their tiles in this order.
#include <string>

namespace velmora {

bool portBefore(const std::string& left, const std::string& right);

struct PortOrder {
    bool operator()(const std::string& left, const std::string& right) const {
        return portBefore(left, right);
    }
};

}  // namespace velmora
