#pragma once
// What every workflow run is handed: where it reports, which hub connection it
// drives, and the detection scheduler that must keep clear while the run holds
// that connection.
#include "device/HubConnection.h"
#include "workflows/WorkflowReporter.h"

namespace velmora {

class DetectionScheduler;

struct WorkflowContext {
    WorkflowReporter& reporter;
    HubConnection& connection;
    DetectionScheduler* scheduler = nullptr;  // none: nothing else uses the connection
};

// The press of a workflow button, before the run is handed to its worker: the
// buttons go off at once so a second press cannot start a second run.
void beginWorkflow(WorkflowReporter& reporter);

}  // namespace velmora
