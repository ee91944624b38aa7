#include "environment/HubRecovery.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "device/VendorCommands.h"
#include "driver_install/FlashCodeReset.h"
#include "history/PhaseLog.h"
#include "workflows/EasyUpdate.h"

namespace velmora {
namespace {

// The words the pane uses for the phase a run's record ended in.
std::string stepName(const std::string& phases) {
    const std::optional<history::PhaseLog> log = history::PhaseLog::parse(phases);
    const std::optional<RunPhase> last = log ? log->last() : std::nullopt;
    if (!last) return "its start";
    switch (*last) {
        case RunPhase::Open: return "Open Rom Device";
        case RunPhase::Backup: return "the backup";
        case RunPhase::Erase: return "Erase Flash";
        case RunPhase::Write: return "Write Flash";
        case RunPhase::Read: return "Read Flash";
        case RunPhase::Verify: return "Verify Flash";
        case RunPhase::Reset: return "Reset to Flash Code";
    }
    return "its start";
}

// The runs of the origin on the port, in the order they were recorded (the
// station's own numbering, whatever the clock said).
std::optional<std::vector<history::HistoryRecord>> runsOn(const RecoverySources& sources,
                                                          const std::string& port, std::string& problem) {
    if (sources.history == nullptr) {
        problem = sources.missing;
        return std::nullopt;
    }
    history::HistoryFilter filter{"", port};
    filter.origin = storedOrigin(sources.origin);
    std::optional<std::vector<history::HistoryRecord>> runs = sources.history->list(filter, problem);
    if (runs)
        std::stable_sort(runs->begin(), runs->end(),
                         [](const history::HistoryRecord& one, const history::HistoryRecord& other) {
                             return one.id < other.id;
                         });
    return runs;
}

constexpr const char* kNoRunToRecover = "no failed or unfinished run with a backup is recorded on this port";

// The runs that did not pass since the last one that did, oldest first. Runs
// that wrote nothing (a read, a verify) say nothing of what the flash holds.
std::vector<history::HistoryRecord> runsSinceLastPass(std::vector<history::HistoryRecord> runs) {
    std::erase_if(runs, [](const history::HistoryRecord& run) {
        const std::optional<RunOperation> operation = runOperationNamed(run.operation);
        return operation == RunOperation::Read || operation == RunOperation::Verify;
    });
    const auto lastPassed = std::find_if(runs.rbegin(), runs.rend(), [](const history::HistoryRecord& run) {
        return run.result == history::kResultSuccess;
    });
    return {lastPassed.base(), runs.end()};
}

// A log this program cannot read is taken to have erased: only a run known to
// have stopped before the erase leaves the flash as it was.
bool reachedTheErase(const history::HistoryRecord& run) {
    const std::optional<history::PhaseLog> log = history::PhaseLog::parse(run.phases);
    if (!log) return true;
    for (const RunPhase phase :
         {RunPhase::Erase, RunPhase::Write, RunPhase::Read, RunPhase::Verify, RunPhase::Reset})
        if (log->reached(phase)) return true;
    return false;
}

}  // namespace

FirmwareBuffer backupImage(const std::vector<std::uint8_t>& bytes) {
    FirmwareBuffer buffer;
    if (!FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()))) {
        buffer.data = bytes;
        buffer.size = static_cast<std::int32_t>(bytes.size());
        buffer.loaded = true;
    }
    return buffer;
}

bool hubRunsRomCode(HubConnection& connection) {
    std::optional<HubStatus> status;
    if (connection.openHub()) status = VC_ReadHubStatus(connection);
    connection.closeHub();
    return status && !status->flashCode;
}

namespace {

RecoveryResult writeBackupBack(const WorkflowContext& context, const std::string& port,
                               const history::HistoryRecord& run, const backups::BackupStore& store,
                               const RecoveryConsent& consent) {
    RecoveryResult result;
    const std::optional<std::vector<std::uint8_t>> bytes = store.load(run.backupSha256, result.problem);
    if (!bytes) {
        result.step = RecoveryStep::BackupUnusable;
        return result;
    }
    result.finding = RecoveryFinding{port, run, true, backupImage(*bytes), ""};
    RecoveryFinding& finding = *result.finding;
    finding.backupPath = store.folder() + "/" + run.backupSha256;
    if (consent && !consent(finding)) {
        result.step = RecoveryStep::Declined;
        return result;
    }
    const bool written = updateFuncAs(context, finding.image, finding.backupPath, RunOperation::Recover,
                                      finding.backupPath, RunId::parse(run.runUuid).value_or(RunId{}))
                             .succeeded;
    result.step = written ? RecoveryStep::Written : RecoveryStep::WriteFailed;
    return result;
}

// The run stopped before it erased: the flash holds what it held, and the reset
// it never got to send brings that firmware up again.
RecoveryResult resetOnly(const WorkflowContext& context, const std::string& port,
                         const history::HistoryRecord& run, const RecoveryConsent& consent) {
    RecoveryResult result;
    result.finding = RecoveryFinding{port, run, false, {}, ""};
    if (consent && !consent(*result.finding)) {
        result.step = RecoveryStep::Declined;
        return result;
    }
    driver::FlashCodeReset reset(context.connection);
    const bool back = reset.resetToFlashCode() == driver::HubResetOutcome::InFlashCode;
    result.step = back ? RecoveryStep::Reset : RecoveryStep::ResetFailed;
    return result;
}

}  // namespace

RecoveryResult recoverHub(const WorkflowContext& context, const std::string& port,
                          const RecoverySources& sources, const RecoveryConsent& consent) {
    RecoveryResult result;
    if (!hubRunsRomCode(context.connection)) return result;
    std::optional<std::vector<history::HistoryRecord>> runs = runsOn(sources, port, result.problem);
    if (!runs) {
        result.step = RecoveryStep::NoRunToRecover;
        return result;
    }
    const std::vector<history::HistoryRecord> notPassed = runsSinceLastPass(std::move(*runs));
    // The first that kept a backup: a later one (a recovery or a second update
    // tried on the broken hub) kept the broken flash, not the firmware it had.
    const auto withBackup =
        std::find_if(notPassed.begin(), notPassed.end(),
                     [](const history::HistoryRecord& run) { return !run.backupSha256.empty(); });
    if (withBackup != notPassed.end())
        return writeBackupBack(context, port, *withBackup, sources.backups, consent);
    const bool erasedNothing = std::none_of(notPassed.begin(), notPassed.end(), reachedTheErase);
    if (!notPassed.empty() && erasedNothing) return resetOnly(context, port, notPassed.back(), consent);
    result.step = RecoveryStep::NoRunToRecover;
    result.problem = kNoRunToRecover;
    return result;
}

std::string recoveryFindingLine(const RecoveryFinding& finding) {
    const history::HistoryRecord& run = finding.run;
    const std::string version = finding.image.block ? identityOf(finding.image).version : std::string{};
    // IsoTime's form: the hour and minute follow the 'T'.
    const std::string time = run.started.size() >= 16 ? run.started.substr(11, 5) + " UTC" : run.started;
    std::string line = finding.port;
    line += ": left in ROM code by ";
    line += runOperationNamed(run.operation) == RunOperation::Update ? "an " : "a ";
    line += run.operation;
    line += " at ";
    line += time;
    line += " that stopped at ";
    line += stepName(run.phases);
    if (!finding.writesFlash) {
        line += ", before anything was erased: reset into its flash code";
        return line;
    }
    line += "; its backup from before holds version ";
    line += version.empty() ? std::string("unknown") : version;
    return line;
}

}  // namespace velmora
