#include "workflows/WorkflowRun.h"

#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "workflows/FlashBackup.h"
#include "workflows/RunIds.h"

namespace velmora {

WorkflowRun::WorkflowRun(const WorkflowContext& context)
    : context_(context), hold_(context.scheduler), port_(context.connection), waits_(context) {}

WorkflowRun::~WorkflowRun() = default;

RunWatch& WorkflowRun::record(RunStart start) {
    outcome_.run = context_.runIds != nullptr ? context_.runIds->next() : RunId::make();
    start.run = outcome_.run;
    watch_.emplace(context_, start);
    return *watch_;
}

void WorkflowRun::conclude(const char* failure) {
    if (!watch_ || concluded_) return;
    concluded_ = true;
    if (failure == nullptr && context_.connection.isOpen()) {
        // Seen by the record like every status read of the run.
        outcome_.closingStatus = VC_ReadHubStatus(context_.connection);
    }
    watch_->finish(failure);
}

const char* WorkflowRun::backUpFlash(const char* failure) {
    if (context_.backups == nullptr) return nullptr;
    if (watch_) watch_->phase(RunPhase::Backup);
    std::string problem;
    const std::optional<KeptBackup> entry =
        takeFlashBackup(context_.connection, *context_.backups, outcome_.run, problem);
    if (!entry) {
        consoleLine(context_, "velmora backup: " + context_.backups->place() + ": " + problem);
        return failure;
    }
    backedUp_ = true;
    if (watch_) watch_->backedUp(entry->sha256);
    return nullptr;
}

const char* WorkflowRun::enterFlashSpan(const char* failure) {
    HubConnection& connection = context_.connection;
    return span_.begin(connection.flashSpanHost(), connection.openPortPath()) ? nullptr : failure;
}

bool WorkflowRun::end(const char* failure, const char* failLine, const char* successLine) {
    conclude(failure);
    outcome_.succeeded = failure == nullptr;
    if (!outcome_.succeeded) outcome_.closingStatus.reset();
    if (backedUp_) {
        // The outcome decides what pruning may remove; a problem here costs no run.
        std::string problem;
        if (!context_.backups->finish(outcome_.run, outcome_.succeeded, problem))
            consoleLine(context_, "velmora backup: " + problem);
    }
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
    span_.end();
    return failure == nullptr;
}

}  // namespace velmora
