#pragma once
// What every workflow run is handed: where it reports, which hub connection it
// drives, and the detection scheduler that must keep clear while the run holds
// that connection.
#include <optional>
#include <string>

#include "device/HubConnection.h"
#include "workflows/WorkflowReporter.h"

namespace velmora {

class DetectionScheduler;
class FlashBackups;

class Console;
class RunIds;
class RunObserver;
struct ImageSignature;

struct WorkflowContext {
    WorkflowReporter& reporter;
    HubConnection& connection;
    DetectionScheduler* scheduler = nullptr;  // none: nothing else uses the connection
    Console* console = nullptr;               // diagnostic lines; none: not kept
    RunObserver* observer = nullptr;          // the run's record (the history); none: not kept
    // Where the flash is kept before every erase; none: no backup (--no-backup).
    FlashBackups* backups = nullptr;
    // Where each run gets its name; none: each run makes its own.
    RunIds* runIds = nullptr;
    // The signature of the image the run writes, as the gate judged it, for the
    // run's record; none: not judged (a backup written back).
    const ImageSignature* imageSignature = nullptr;
};

// The press of a workflow button, before the run is handed to its worker: the
// buttons go off at once so a second press cannot start a second run.
void beginWorkflow(WorkflowReporter& reporter);

// The failure line for a hub that could not be opened: the step's own, or the
// busy line when another run holds the hub.
const char* openFailure(const HubConnection& connection, const char* stepFailure);

// After a busy refusal, the holder and the port it holds (kBusyPortFormat);
// nothing when the open was not refused as busy.
std::optional<std::string> busyPortText(const HubConnection& connection);
std::string busyPortText(const HeldPortLock& held);

// Writes a diagnostic line to the context's console, when it has one.
void consoleLine(const WorkflowContext& context, const std::string& line);

// For a run's length, the connection's reset waits are told to the reporter
// (showWait, endWait), worded as the workflows word everything.
class WaitReports {
public:
    explicit WaitReports(const WorkflowContext& context);
    ~WaitReports();
    WaitReports(const WaitReports&) = delete;
    WaitReports& operator=(const WaitReports&) = delete;

private:
    HubConnection& connection_;
};

}  // namespace velmora
