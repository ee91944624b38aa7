#include "history/PhaseLog.h"

#include <algorithm>
#include <charconv>

#include "app/TextAppend.h"

namespace velmora::history {

std::optional<PhaseLog> PhaseLog::parse(const std::string& text) {
    std::vector<PhaseEntry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = item.find('=');
        const std::optional<RunPhase> phase = runPhaseNamed(item.substr(0, equals));
        if (!phase) return std::nullopt;
        PhaseEntry entry{*phase, std::nullopt};
        if (equals != std::string::npos) {
            std::int64_t milliseconds = 0;
            const char* first = item.data() + equals + 1;
            const char* last = item.data() + item.size();
            const auto [stop, problem] = std::from_chars(first, last, milliseconds);
            if (problem != std::errc{} || stop != last || first == last || milliseconds < 0)
                return std::nullopt;
            entry.milliseconds = milliseconds;
        }
        entries.push_back(entry);
    }
    return PhaseLog(std::move(entries));
}

std::string PhaseLog::text() const {
    std::string text;
    for (const PhaseEntry& entry : entries_) {
        appendText(text, {text.empty() ? "" : ";", runPhaseName(entry.phase)});
        if (entry.milliseconds) appendText(text, {"=", std::to_string(*entry.milliseconds)});
    }
    return text;
}

std::optional<RunPhase> PhaseLog::last() const {
    if (entries_.empty()) return std::nullopt;
    return entries_.back().phase;
}

bool PhaseLog::reached(RunPhase phase) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [phase](const PhaseEntry& entry) { return entry.phase == phase; });
}

}  // namespace velmora::history
