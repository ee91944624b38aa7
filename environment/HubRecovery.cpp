#include "environment/HubRecovery.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/IsoTime.h"
#include "app/Sha256.h"
#include "device/VendorCommands.h"
#include "driver_install/FlashCodeReset.h"
#include "environment/WrittenBytes.h"
#include "history/PhaseLog.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/WorkflowMessages.h"

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

bool writesNothing(const history::HistoryRecord& run) {
    const std::optional<RunOperation> operation = runOperationNamed(run.operation);
    return operation == RunOperation::Read || operation == RunOperation::Verify;
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

// A run enters its final reset only once its compare passed (an erase, once the
// flash is blank): what it wrote is whole in the flash, unless the hub was seen
// to come back from it running another code (bytes it does not boot).
bool cameBackRunningAnotherCode(const history::HistoryRecord& run) {
    return run.failure.starts_with(messages::kCameBackStart);
}

bool passedItsCompare(const history::HistoryRecord& run) {
    const std::optional<history::PhaseLog> log = history::PhaseLog::parse(run.phases);
    return log && log->reached(RunPhase::Reset) && !cameBackRunningAnotherCode(run);
}

}  // namespace

Rollback chooseRollback(std::vector<history::HistoryRecord> runs) {
    std::erase_if(runs, writesNothing);
    std::stable_sort(runs.begin(), runs.end(),
                     [](const history::HistoryRecord& one, const history::HistoryRecord& other) {
                         return one.id < other.id;
                     });
    const auto lastWhole = std::find_if(runs.rbegin(), runs.rend(), [](const history::HistoryRecord& run) {
        return run.result == history::kResultSuccess || passedItsCompare(run);
    });
    const std::vector<history::HistoryRecord> after(lastWhole.base(), runs.end());
    // The backup of the first run that kept one, up to the first that erased: a
    // later one (a recovery or a second update tried on the broken hub) kept the
    // broken flash, not the firmware it had.
    for (const history::HistoryRecord& run : after) {
        if (!run.backupSha256.empty()) return {Rollback::Action::WriteBackup, run, false};
        if (reachedTheErase(run)) return {};
    }
    if (!after.empty()) return {Rollback::Action::ResetOnly, after.back(), false};
    if (lastWhole != runs.rend() && lastWhole->result != history::kResultSuccess)
        return {Rollback::Action::ResetOnly, *lastWhole, true};
    return {};
}

std::optional<Rollback> rollbackOn(const RecoverySources& sources, const std::string& port,
                                   std::string& problem) {
    std::optional<std::vector<history::HistoryRecord>> runs = runsOn(sources, port, problem);
    if (!runs) return std::nullopt;
    return chooseRollback(std::move(*runs));
}

FirmwareBuffer backupImage(const std::vector<std::uint8_t>& bytes) {
    FirmwareBuffer buffer;
    if (!FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()))) {
        buffer.data = bytes;
        buffer.size = static_cast<std::int32_t>(bytes.size());
        buffer.loaded = true;
    }
    return buffer;
}

namespace {

std::optional<HubStatus> statusNow(HubConnection& connection) {
    std::optional<HubStatus> status;
    if (connection.openHub()) status = VC_ReadHubStatus(connection);
    connection.closeHub();
    return status;
}

}  // namespace

bool hubRunsRomCode(HubConnection& connection) {
    const std::optional<HubStatus> status = statusNow(connection);
    return status && !status->flashCode;
}

namespace {

// The backup as the bytes rule admits it: a blank or blockless one only by name
// (restore --blank), never chosen for the user.
RecoveryResult writeBackupBack(const WorkflowContext& context, const std::string& port,
                               const history::HistoryRecord& run, const RecoverySources& sources,
                               const RecoveryConsent& consent, RecoveryFinding finding = {}) {
    RecoveryResult result;
    const backups::BackupStore& store = sources.backups;
    const std::optional<std::vector<std::uint8_t>> bytes = store.load(run.backupSha256, result.problem);
    if (!bytes) {
        result.step = RecoveryStep::BackupUnusable;
        return result;
    }
    const std::string path = store.folder() + "/" + run.backupSha256;
    const BytesAdmission admission = admitWrittenBytes({path, *bytes}, sources.table);
    if (!admission.admitted()) {
        result.step = RecoveryStep::BackupUnusable;
        result.problem = admission.reason;
        return result;
    }
    finding.port = port;
    finding.run = run;
    finding.writesFlash = true;
    finding.image = admission.image;
    finding.backupPath = path;
    result.finding = finding;
    if (consent && !consent(finding)) {
        result.step = RecoveryStep::Declined;
        return result;
    }
    const bool written = updateFuncAs(context, finding.image, path, RunOperation::Recover, path,
                                      RunId::parse(run.runUuid).value_or(RunId{}))
                             .succeeded;
    result.step = written ? RecoveryStep::Written : RecoveryStep::WriteFailed;
    return result;
}

// The run stopped before it erased, or after its compare passed: the flash holds
// a whole firmware, and the reset it never got to send brings it up.
RecoveryResult resetOnly(const WorkflowContext& context, const std::string& port, const Rollback& rollback,
                         const RecoveryConsent& consent) {
    RecoveryResult result;
    result.finding = RecoveryFinding{port, rollback.run, false, rollback.comparePassed, false, {}, ""};
    if (consent && !consent(*result.finding)) {
        result.step = RecoveryStep::Declined;
        return result;
    }
    driver::FlashCodeReset reset(context.connection);
    const bool back = reset.resetToFlashCode() == driver::HubResetOutcome::InFlashCode;
    result.step = back ? RecoveryStep::Reset : RecoveryStep::ResetFailed;
    return result;
}

// The last run that may have changed the flash, when it erased and did not finish.
std::optional<history::HistoryRecord> erasedAndUnfinished(std::vector<history::HistoryRecord> runs) {
    std::erase_if(runs, writesNothing);
    if (runs.empty()) return std::nullopt;
    const history::HistoryRecord& last = *std::max_element(
        runs.begin(), runs.end(), [](const auto& one, const auto& other) { return one.id < other.id; });
    if (last.result == history::kResultSuccess || !reachedTheErase(last) || passedItsCompare(last))
        return std::nullopt;
    return last;
}

// The run's whole image, its length unknown: the flash holds it when some prefix
// has its SHA-256 and every byte after it is erased.
bool holdsTheImage(const std::vector<std::uint8_t>& flash, const std::string& imageSha256) {
    if (imageSha256.empty()) return false;
    const auto lastWritten =
        std::find_if(flash.rbegin(), flash.rend(), [](std::uint8_t byte) { return byte != 0xFF; });
    const std::size_t from = static_cast<std::size_t>(flash.rend() - lastWritten);
    return prefixWithSha256(flash.data(), flash.size(), from, imageSha256).has_value();
}

// A hub that boots its flash code although its last run erased and did not
// finish (a half-written image may hold a block signature below its own block).
RecoveryResult examine(const WorkflowContext& context, const std::string& port,
                       const history::HistoryRecord& run, std::vector<history::HistoryRecord> runs,
                       const RecoverySources& sources, const RecoveryConsent& consent) {
    RecoveryResult result;
    result.finding = RecoveryFinding{port, run, false, false, true, {}, ""};
    if (consent && !consent(*result.finding)) {
        result.step = RecoveryStep::Declined;
        return result;
    }
    FirmwareBuffer flash;
    if (!readFunc_FwFlash(context, flash)) {
        result.step = RecoveryStep::ExamineFailed;
        return result;
    }
    // A whole image the hub was seen not to boot is no finished run.
    if (!cameBackRunningAnotherCode(run) && holdsTheImage(flash.data, run.imageSha256)) {
        history::HistoryRecord finished = run;
        finished.result = history::kResultSuccess;
        finished.failure.clear();
        finished.ended = isoUtc(wallNow());
        result.step = sources.history->record(finished, result.problem) ? RecoveryStep::HeldTheImage
                                                                        : RecoveryStep::ExamineFailed;
        return result;
    }
    if (!run.backupSha256.empty() && sha256Hex(flash.data.data(), flash.data.size()) == run.backupSha256) {
        result.step = RecoveryStep::HeldTheBackup;
        return result;
    }
    const Rollback rollback = chooseRollback(std::move(runs));
    if (rollback.action != Rollback::Action::WriteBackup) {
        result.step = RecoveryStep::NoRunToRecover;
        result.problem = kNoRunToRecover;
        return result;
    }
    RecoveryFinding writing;
    writing.examines = true;
    return writeBackupBack(context, port, rollback.run, sources, consent, writing);
}

}  // namespace

RecoveryResult recoverHub(const WorkflowContext& context, const std::string& port,
                          const RecoverySources& sources, const RecoveryConsent& consent) {
    RecoveryResult result;
    const std::optional<HubStatus> status = statusNow(context.connection);
    if (!status) return result;  // not there, or not answering: nothing to tell
    std::optional<std::vector<history::HistoryRecord>> runs = runsOn(sources, port, result.problem);
    if (status->flashCode) {
        if (!runs) return result;
        const std::optional<history::HistoryRecord> cut = erasedAndUnfinished(*runs);
        return cut ? examine(context, port, *cut, std::move(*runs), sources, consent) : result;
    }
    if (!runs) {
        result.step = RecoveryStep::NoRunToRecover;
        return result;
    }
    const Rollback rollback = chooseRollback(std::move(*runs));
    switch (rollback.action) {
        case Rollback::Action::WriteBackup:
            return writeBackupBack(context, port, rollback.run, sources, consent);
        case Rollback::Action::ResetOnly: return resetOnly(context, port, rollback, consent);
        case Rollback::Action::None: break;
    }
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
    line += finding.examines ? ": runs its flash code, but " : ": left in ROM code by ";
    line += runOperationNamed(run.operation) == RunOperation::Update ? "an " : "a ";
    line += run.operation;
    line += " at ";
    line += time;
    line += " that stopped at ";
    line += stepName(run.phases);
    if (finding.examines && !finding.writesFlash) {
        line += " had erased it: reading the flash to compare with that run's image and its backup";
        return line;
    }
    if (finding.examines) line += ": the flash is neither its image nor its backup";
    if (!finding.writesFlash) {
        line += finding.comparePassed ? ", after its compare passed: the flash holds its image; reset into "
                                        "its flash code"
                                      : ", before anything was erased: reset into its flash code";
        return line;
    }
    line += "; its backup from before holds version ";
    line += version.empty() ? std::string("unknown") : version;
    return line;
}

}  // namespace velmora
