#include "workflows/WorkflowRun.h"

#include "device/UsbConnection.h"

namespace velmora {

WorkflowRun::WorkflowRun(const WorkflowContext& context)
    : context_(context), hold_(context.scheduler), port_(context.connection), waits_(context) {}

WorkflowRun::~WorkflowRun() = default;

RunWatch& WorkflowRun::record(const RunStart& start) {
    watch_.emplace(context_, start);
    return *watch_;
}

void WorkflowRun::conclude(const char* failure) {
    if (watch_) watch_->finish(failure);
}

bool WorkflowRun::end(const char* failure, const char* failLine, const char* successLine) {
    conclude(failure);
    // The record stops watching the hub before it is closed.
    watch_.reset();
    WorkflowReporter& reporter = context_.reporter;
    if (failure != nullptr) {
        reporter.appendProgressInfo_Red(failure);
        reporter.appendProgressInfo_Red(failLine);
    } else if (successLine != nullptr) {
        reporter.appendProgressInfo_Blue(successLine);
    }
    USB_CloseHub(context_.connection);
    reporter.SetButtonStatus(true);
    return failure == nullptr;
}

}  // namespace velmora
