#pragma once
// One run of a workflow on its hub, from the press of the button to the end. For
// its length it holds what every run holds: detection kept clear of the
// connection (WorkflowHold), the hub's port lock from the first open to the last
// (PortHold), the reset waits told to the reporter (WaitReports), once the run
// reaches the hub its name and its record (RunWatch), and from its erase on the
// host held off the hub (FlashSpan). end() is the common ending: the closing
// status read, the outcome in its colour, the hub closed, the buttons back, the
// span left. The steps in between are each workflow's own.
#include <optional>
#include <string>

#include "detection/DetectionScheduler.h"
#include "device/FlashSpan.h"
#include "workflows/RunOutcome.h"
#include "workflows/RunWatch.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

class WorkflowRun {
public:
    explicit WorkflowRun(const WorkflowContext& context);
    ~WorkflowRun();
    WorkflowRun(const WorkflowRun&) = delete;
    WorkflowRun& operator=(const WorkflowRun&) = delete;

    const WorkflowContext& context() const { return context_; }
    WorkflowReporter& reporter() const { return context_.reporter; }

    // Names the run and starts its record: from here on it counts as a hub
    // operation. start.run is set here.
    RunWatch& record(RunStart start);
    // Closes the record with the outcome (failure: the line shown, nullptr for a
    // success). Once only; end() does it when it was not done.
    void conclude(const char* failure);
    // With the hub open in its ROM code, before the erase: reads the whole flash
    // twice, and keeps it when both reads agree. nullptr when kept (or when the
    // context keeps no backups), else failure, the line the run stops with.
    const char* backUpFlash(const char* failure);
    // Just before the first erase request: the host is held off the hub (no sleep,
    // shutdown, autosuspend or stop signal) until end(). nullptr when held, else
    // failure, the line the run stops with: the process is stopping, so nothing is
    // erased.
    const char* enterFlashSpan(const char* failure);
    // The common ending: after a success, the hub's status read once more while
    // it is still open (a step of every run, observed or not, so that observing
    // a run never changes what goes to the hub); the record closed; a failure in
    // red followed by failLine, or successLine in blue (none: nothing); the hub
    // closed; the buttons back; then the span is left, which ends the process
    // when a stop signal was held for it. True for a success; outcome() says more.
    bool end(const char* failure, const char* failLine, const char* successLine);
    const RunOutcome& outcome() const { return outcome_; }

private:
    const WorkflowContext& context_;
    WorkflowHold hold_;
    PortHold port_;
    WaitReports waits_;
    std::optional<RunWatch> watch_;
    bool concluded_ = false;
    bool backedUp_ = false;  // the run's backup was kept: its end is told to the keeper
    RunOutcome outcome_;
    FlashSpan span_;  // left last, after everything the run records and shows
};

}  // namespace velmora
