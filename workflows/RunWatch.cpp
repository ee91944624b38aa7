#include "workflows/RunWatch.h"

#include <algorithm>

namespace velmora {

const char* runPhaseName(RunPhase phase) {
    switch (phase) {
        case RunPhase::Open: return "open";
        case RunPhase::Backup: return "backup";
        case RunPhase::Erase: return "erase";
        case RunPhase::Write: return "write";
        case RunPhase::Read: return "read";
        case RunPhase::Verify: return "verify";
        case RunPhase::Reset: return "reset";
    }
    return "?";
}

std::optional<RunPhase> runPhaseNamed(const std::string& name) {
    for (const RunPhase phase : {RunPhase::Open, RunPhase::Backup, RunPhase::Erase, RunPhase::Write,
                                 RunPhase::Read, RunPhase::Verify, RunPhase::Reset})
        if (name == runPhaseName(phase)) return phase;
    return std::nullopt;
}

RunWatch::RunWatch(const WorkflowContext& context, const RunStart& start) : connection_(context.connection) {
    if (context.observer == nullptr) return;
    log_ = context.observer->runStarted(start);
    if (!log_) return;
    RunLog* log = log_.get();
    connection_.setSightingObserver(
        [log](const HubConnection::HubSighting& sighting) { log->hubSeen(sighting); });
}

RunWatch::~RunWatch() {
    if (!log_) return;
    connection_.setSightingObserver({});
    // A run that returns without finishing (it cannot today) is not left unfinished.
    if (!finished_) log_->ended({false, {}});
}

void RunWatch::phase(RunPhase phase) {
    if (log_) log_->phaseStarted(phase);
}

void RunWatch::backedUp(const std::string& sha256) {
    if (log_) log_->backedUp(sha256);
}

void RunWatch::serialRead(const std::string& serial) {
    if (log_) log_->serialRead(serial);
}

void RunWatch::finish(const char* failure) {
    if (!log_ || finished_) return;
    finished_ = true;
    std::string line = failure == nullptr ? std::string{} : std::string(failure);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    while (!line.empty() && line.front() == '\n') line.erase(line.begin());
    std::replace(line.begin(), line.end(), '\n', ' ');  // one line in the record, however the pane splits it
    log_->ended({failure == nullptr, line});
}

}  // namespace velmora
