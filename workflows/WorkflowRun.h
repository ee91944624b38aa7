#pragma once
// One run of a workflow on its hub, from the press of the button to the end. For
// its length it holds what every run holds: detection kept clear of the
// connection (WorkflowHold), the hub's port lock from the first open to the last
// (PortHold), the reset waits told to the reporter (WaitReports), once the run
// reaches the hub its name and its record (RunWatch), and from its erase on the
// host held off the hub (FlashSpan). end() is the common ending: the closing
// status read, the outcome in its colour, the hub closed, the buttons back, the
// span left. The steps in between are each workflow's own.
#include <cstdint>
#include <optional>
#include <string>

#include "detection/DetectionScheduler.h"
#include "device/FlashSpan.h"
#include "workflows/RunOutcome.h"
#include "workflows/RunWatch.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

// What the hub must run once a run that wrote it ends, for the run to pass: the
// flash code of the bytes written, with their version when they have room for
// one, or, for bytes without a configuration block, its ROM code.
struct ExpectedCode {
    bool flashCode = true;
    std::optional<std::uint16_t> version;
};

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
    // success). Once only; end() does it when it was not done. After a success
    // the hub's status is read; when the run expects a code (expectAtTheEnd)
    // and the hub runs another, that is the run's failure, returned.
    const char* conclude(const char* failure);
    // For a run that writes the hub: what the closing status read must show.
    void expectAtTheEnd(ExpectedCode expected) { expected_ = expected; }
    // With the hub open in its ROM code, before the erase: reads the whole flash
    // twice, and keeps it when both reads agree. nullptr when kept (or when the
    // context keeps no backups), else failure, the line the run stops with, and
    // the hub is reset into the flash code it still has (nothing was erased) and
    // the reason shown after the failure line.
    const char* backUpFlash(const char* failure);
    // Just before the first erase request: the host is held off the hub (no sleep,
    // shutdown, autosuspend or stop signal) until end(). nullptr when held, else
    // failure, the line the run stops with: the process is stopping, so nothing is
    // erased.
    const char* enterFlashSpan(const char* failure);
    // The common ending: after a success, the hub's status read once more while
    // it is still open (a step of every run, observed or not, so that observing
    // a run never changes what goes to the hub); the record closed; a failure in
    // red followed by failLine (and, once the flash was erased, the way back),
    // or successLine in blue (none: nothing); the hub
    // closed; the buttons back; then the span is left, which ends the process
    // when a stop signal was held for it. True for a success; outcome() says more.
    bool end(const char* failure, const char* failLine, const char* successLine);
    const RunOutcome& outcome() const { return outcome_; }

private:
    const char* checkCameBack();

    const WorkflowContext& context_;
    WorkflowHold hold_;
    PortHold port_;
    WaitReports waits_;
    std::optional<RunWatch> watch_;
    bool concluded_ = false;
    bool backedUp_ = false;  // the run's backup was kept: its end is told to the keeper
    bool erased_ = false;    // the run reached its erase: a failure names the way back
    std::optional<ExpectedCode> expected_;
    std::string cameBack_;  // the failure line of a hub that came back running another code
    std::string detail_;    // why, shown in red after the failure line
    RunOutcome outcome_;
    FlashSpan span_;  // left last, after everything the run records and shows
};

}  // namespace velmora
