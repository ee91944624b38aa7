#pragma once
// The unit IDs an operator scans from the units' labels, waiting for their units.
// A scanner in keyboard mode types a label and Enter: the operator scans a
// fixture's labels, then closes it, and each unit that arrives takes the next ID
// in the order scanned (units arriving together take them in port order). An ID
// scanned for one port (a tile chosen in the window) goes to that port's unit
// instead. Safe to call from the front end and the station's loop at once.
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The longest ID taken: a label's code, not a text.
inline constexpr std::size_t kMostUnitIdLength = 64;

struct ScanResult {
    bool taken = false;
    std::string id;    // as kept: without the blanks around it
    std::string line;  // what the operator is told, either way
};

class UnitIdQueue {
public:
    // A scanned line: the next arriving unit's ID, or, with port, the ID of the
    // unit on that port. Refused with its line: empty, not printable ASCII, too
    // long, or already waiting.
    ScanResult scan(const std::string& text, const std::optional<std::string>& port = std::nullopt);
    // A unit arrived on port: its ID (one scanned for its port first, else the
    // next waiting), or nothing when none waits.
    std::optional<std::string> takeFor(const std::string& port);
    // The IDs waiting, in the order they will be taken (those for a port last).
    std::vector<std::string> waiting() const;
    // Forgets every ID waiting, those for a port included; the number forgotten.
    std::size_t clear();

private:
    bool waitingLocked(const std::string& id) const;

    mutable std::mutex mutex_;
    std::deque<std::string> next_;
    std::map<std::string, std::string> forPort_;  // port -> ID
};

}  // namespace velmora
