#pragma once
// Recovery of a hub that a failed or interrupted run left in its ROM code: the
// history says which run did it on that port, the backups hold the flash as it
// was before that run erased, and the full update run (erase, program, read back,
// compare, reset) writes it back, recorded as a recovery naming that run. Both
// front ends and the tests go through recoverHub; the front end only asks and shows.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backups/BackupStore.h"
#include "firmware/FirmwareBuffer.h"
#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"
#include "workflows/RunOrigin.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

// What a recovery of one hub came to.
enum class RecoveryStep {
    NotInRomCode,    // the hub runs its flash code (or did not answer): nothing to do
    NoRunToRecover,  // in ROM code, but no recorded run on its port left a backup
    BackupUnusable,  // the run's backup is gone or no longer matches its name
    Declined,        // the user did not confirm: nothing written
    Written,         // the backup is back and the hub runs it
    WriteFailed,     // the update run that writes it back failed
    Reset,           // nothing was erased: reset into its flash code, which it runs
    ResetFailed,     // nothing was erased, but the reset did not bring its flash code up
};

// The run that left the hub so, and its backup as the update run writes it; or,
// when no run since the last one that passed there erased anything, only the
// reset into the flash code the hub still holds.
struct RecoveryFinding {
    std::string port;
    history::HistoryRecord run;
    bool writesFlash = true;
    FirmwareBuffer image;
    std::string backupPath;  // the backup's file in the store: the FW line's name
};

struct RecoveryResult {
    RecoveryStep step = RecoveryStep::NotInRomCode;
    std::string problem;  // why, for NoRunToRecover and BackupUnusable
    std::optional<RecoveryFinding> finding;
};

// Asked with what was found before anything is written; false writes nothing.
using RecoveryConsent = std::function<bool(const RecoveryFinding&)>;

// A backup as the update run writes it: back as it was, whether or not its flash
// held a configuration block.
FirmwareBuffer backupImage(const std::vector<std::uint8_t>& bytes);

// Whether the hub on the connection runs its ROM code: opened, its status read, closed.
bool hubRunsRomCode(HubConnection& connection);

// Where a recovery looks: the history the runs went to (null when nothing was
// recorded yet, with why in missing), the backups, and whose runs count (a
// bench's runs never stand for a real hub, nor a real hub's for a bench's).
struct RecoverySources {
    history::HistoryStore* history = nullptr;
    std::string missing;
    const backups::BackupStore& backups;
    RunOrigin origin = RunOrigin::Real;
};

// Recovers the hub on context.connection (pinned to port), when it runs its ROM
// code, writing through the context's reporter, observer and backups. Of the runs
// of the sources' origin on its port since the last one there that passed (a
// read or a verify aside), in the order they were recorded, the first that kept
// a backup gives the flash written back; when none kept one and none reached
// the erase, the flash is as it was and a reset is all it needs. consent is
// asked once something was found, before the hub is touched.
RecoveryResult recoverHub(const WorkflowContext& context, const std::string& port,
                          const RecoverySources& sources, const RecoveryConsent& consent);

// "1-2: left in ROM code by an update at 14:02 UTC that stopped at Write Flash;
// its backup from before holds version 0102", or for a run that erased nothing
// "...that stopped at the backup, before anything was erased: reset into its flash code"
std::string recoveryFindingLine(const RecoveryFinding& finding);

}  // namespace velmora
