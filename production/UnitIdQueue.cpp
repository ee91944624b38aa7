#include "production/UnitIdQueue.h"

#include <algorithm>

#include "app/PrintableText.h"

namespace velmora {
namespace {

std::string trimmed(const std::string& text) {
    // A scanner may end its line with CR as well as LF, or pad it with blanks.
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

// A label's code is printable ASCII: anything else is a misread or not a scan.
bool printableAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// At most this much of a refused scan is repeated back.
constexpr std::size_t kShownLength = 80;

std::string shown(const std::string& text) {
    std::string cut = printableText(text.substr(0, kShownLength));
    return text.size() > kShownLength ? cut + "..." : cut;
}

}  // namespace

ScanResult UnitIdQueue::scan(const std::string& text, const std::optional<std::string>& port) {
    ScanResult result;
    result.id = trimmed(text);
    if (result.id.empty()) {
        result.line = "Unit ID refused: the scan was empty";
    } else if (!printableAscii(result.id)) {
        result.line = "Unit ID \"" + shown(result.id) + "\" refused: a label holds printable ASCII only";
    } else if (result.id.size() > kMostUnitIdLength) {
        result.line = "Unit ID \"" + shown(result.id) + "\" refused: longer than " +
                      std::to_string(kMostUnitIdLength) + " characters";
    }
    if (!result.line.empty()) return result;
    std::lock_guard lock(mutex_);
    if (waitingLocked(result.id)) {
        result.line =
            "Unit ID " + result.id + " refused: it was scanned already and still waits for its unit";
        return result;
    }
    result.taken = true;
    if (port) {
        forPort_[*port] = result.id;
        result.line = "Unit ID " + result.id + " for the unit on port " + *port;
    } else {
        next_.push_back(result.id);
        result.line = "Unit ID " + result.id + " waits for the next unit";
    }
    return result;
}

std::optional<std::string> UnitIdQueue::takeFor(const std::string& port) {
    std::lock_guard lock(mutex_);
    if (const auto pinned = forPort_.find(port); pinned != forPort_.end()) {
        std::string id = pinned->second;
        forPort_.erase(pinned);
        return id;
    }
    if (next_.empty()) return std::nullopt;
    std::string id = next_.front();
    next_.pop_front();
    return id;
}

std::vector<std::string> UnitIdQueue::waiting() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids(next_.begin(), next_.end());
    for (const auto& [port, id] : forPort_) ids.push_back(id + " (" + port + ")");
    return ids;
}

std::size_t UnitIdQueue::clear() {
    std::lock_guard lock(mutex_);
    const std::size_t count = next_.size() + forPort_.size();
    next_.clear();
    forPort_.clear();
    return count;
}

bool UnitIdQueue::waitingLocked(const std::string& id) const {
    if (std::find(next_.begin(), next_.end(), id) != next_.end()) return true;
    return std::any_of(forPort_.begin(), forPort_.end(),
                       [&id](const auto& entry) { return entry.second == id; });
}

}  // namespace velmora
