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

#include "app/SupportedDeviceTable.h"
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
    Reset,           // nothing was erased, or the run's compare passed: reset into its flash code
    ResetFailed,     // the reset did not bring its flash code up
    // A hub in its flash code whose last run erased and did not finish: its flash,
    // read back, was that run's whole image (the run is now recorded as finished)
    // or the backup from before it. Nothing written.
    HeldTheImage,
    HeldTheBackup,
    ExamineFailed,  // the flash could not be read to tell
};

// What the runs on one hub since its last pass leave to do.
struct Rollback {
    enum class Action { None, WriteBackup, ResetOnly };
    Action action = Action::None;
    // The run whose backup is written back, or the run that stopped.
    history::HistoryRecord run;
    // The run stopped after its compare passed: the flash holds its image whole.
    bool comparePassed = false;
};

// Of the runs recorded on one hub (any order), those since the last that passed
// (reads and verifies aside, which write nothing), oldest first: a run whose
// compare passed leaves the flash holding its image, as a pass does, and the
// backup written back is the one from before the first run after that which
// erased; a later backup holds a broken flash.
Rollback chooseRollback(std::vector<history::HistoryRecord> runs);

// The run that left the hub so, and its backup as the update run writes it; or,
// when no run since the last one that passed there erased anything, only the
// reset into the flash code the hub still holds.
struct RecoveryFinding {
    std::string port;
    history::HistoryRecord run;
    bool writesFlash = true;
    bool comparePassed = false;  // a reset only: the flash holds that run's image whole
    bool examines = false;       // the hub runs its flash code: read the flash to tell
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
    // The configuration's table a backup written back is admitted against
    // (environment/WrittenBytes.h).
    const SupportedDeviceTable& table;
};

// The rollback of the hub on port by the sources' runs; nothing, with problem,
// when the history cannot be read.
std::optional<Rollback> rollbackOn(const RecoverySources& sources, const std::string& port,
                                   std::string& problem);

// Recovers the hub on context.connection (pinned to port), writing through the
// context's reporter, observer and backups. In its ROM code: chooseRollback
// decides between writing a backup back (only one the bytes rule admits: never
// a blank one) and a reset alone. In its flash code, when its last run erased
// and did not finish: the flash is read and compared with that run's image and
// its backup, and only a flash that is neither gets the backup. consent is
// asked once something was found, before the hub is touched (again before a
// write that the examination found needed).
RecoveryResult recoverHub(const WorkflowContext& context, const std::string& port,
                          const RecoverySources& sources, const RecoveryConsent& consent);

// "1-2: left in ROM code by an update at 14:02 UTC that stopped at Write Flash;
// its backup from before holds version 0102", or for a run that erased nothing
// "...that stopped at the backup, before anything was erased: reset into its flash code"
std::string recoveryFindingLine(const RecoveryFinding& finding);

}  // namespace velmora
