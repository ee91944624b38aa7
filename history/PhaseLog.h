#pragma once
// The phases a run went through, as its history row keeps them: each phase it
// entered, in order, with the milliseconds it took, the last one without while
// the run is in it (and after the run ended in it). Written and read here
// alone, in one form: "open=2012;erase=128;write".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workflows/RunObserver.h"

namespace velmora::history {

struct PhaseEntry {
    RunPhase phase = RunPhase::Open;
    std::optional<std::int64_t> milliseconds;  // none for the phase the run is (or ended) in
    bool operator==(const PhaseEntry&) const = default;
};

class PhaseLog {
public:
    PhaseLog() = default;
    explicit PhaseLog(std::vector<PhaseEntry> entries) : entries_(std::move(entries)) {}

    // The log of a row; nothing when the text is not in this form (a phase this
    // program does not know, a time that is no number).
    static std::optional<PhaseLog> parse(const std::string& text);
    std::string text() const;

    const std::vector<PhaseEntry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }
    // The phase the run was in last; none before its first.
    std::optional<RunPhase> last() const;
    bool reached(RunPhase phase) const;

private:
    std::vector<PhaseEntry> entries_;
};

}  // namespace velmora::history
