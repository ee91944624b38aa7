#include "environment/HubRecovery.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "device/VendorCommands.h"
#include "driver_install/FlashCodeReset.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryFile.h"
#include "workflows/EasyUpdate.h"

namespace velmora {
namespace {

constexpr const char* kRecoverOperation = "recover";

// The words the pane uses for the phase a run's record ended in.
std::string stepName(const std::string& phases) {
    const std::size_t separator = phases.rfind(';');
    const std::size_t start = separator == std::string::npos ? 0 : separator + 1;
    const std::string phase = phases.substr(start, phases.find('=', start) - start);
    if (phase == "open") return "Open Rom Device";
    if (phase == "backup") return "the backup";
    if (phase == "erase") return "Erase Flash";
    if (phase == "write") return "Write Flash";
    if (phase == "read") return "Read Flash";
    if (phase == "verify") return "Verify Flash";
    if (phase == "reset") return "Reset to Flash Code";
    return "its start";
}

std::optional<std::vector<history::HistoryRecord>> runsOn(const std::string& historyPath,
                                                          const std::string& port, std::string& problem) {
    bool missing = false;
    if (historyPath.empty() || !history::checkHistoryFile(historyPath, missing, problem)) return std::nullopt;
    if (missing) {
        problem = "no history is kept at " + historyPath;
        return std::nullopt;
    }
    const auto database = history::HistoryDatabase::open(historyPath, problem);
    if (!database) return std::nullopt;
    return database->list({"", port}, problem);
}

constexpr const char* kNoRunToRecover = "no failed or unfinished run with a backup is recorded on this port";

// The runs that did not pass since the last one that did, oldest first. Runs
// that wrote nothing (a read, a verify) say nothing of what the flash holds.
std::vector<history::HistoryRecord> runsSinceLastPass(std::vector<history::HistoryRecord> runs) {
    std::erase_if(runs, [](const history::HistoryRecord& run) {
        return run.operation == "read" || run.operation == "verify";
    });
    const auto lastPassed = std::find_if(runs.rbegin(), runs.rend(), [](const history::HistoryRecord& run) {
        return run.result == history::kResultSuccess;
    });
    return {lastPassed.base(), runs.end()};
}

bool reachedTheErase(const history::HistoryRecord& run) {
    const std::string phases = ";" + run.phases;
    for (const char* phase : {";erase", ";write", ";read", ";verify", ";reset"}) {
        if (phases.find(phase) != std::string::npos) return true;
    }
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
                               const history::HistoryRecord& run, const history::BackupStore& store,
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
    const bool written = updateFuncAs(context, finding.image, finding.backupPath, kRecoverOperation,
                                      finding.backupPath, std::to_string(run.id));
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
                          const std::string& historyPath, const history::BackupStore& store,
                          const RecoveryConsent& consent) {
    RecoveryResult result;
    if (!hubRunsRomCode(context.connection)) return result;
    std::optional<std::vector<history::HistoryRecord>> runs = runsOn(historyPath, port, result.problem);
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
    if (withBackup != notPassed.end()) return writeBackupBack(context, port, *withBackup, store, consent);
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
    line += run.operation == "update" ? "an " : "a ";
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
