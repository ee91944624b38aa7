#include "workflows/WorkflowRun.h"

#include "app/TextFormat.h"
#include "device/FlashOperations.h"
#include "device/UsbConnection.h"
#include "device/VendorCommands.h"
#include "workflows/FlashBackup.h"
#include "workflows/RunIds.h"
#include "workflows/WorkflowMessages.h"

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

namespace {

std::string codeWords(bool flashCode, std::optional<std::uint16_t> version) {
    if (!flashCode) return messages::kRomCodeWords;
    return version ? formatText(messages::kFlashCodeVersionFormat, *version) : messages::kFlashCodeWords;
}

}  // namespace

const char* WorkflowRun::conclude(const char* failure) {
    if (!watch_ || concluded_) return failure;
    concluded_ = true;
    if (failure == nullptr && context_.connection.isOpen()) {
        // Seen by the record like every status read of the run.
        outcome_.closingStatus = VC_ReadHubStatus(context_.connection);
    }
    if (failure == nullptr && expected_) failure = checkCameBack();
    watch_->finish(failure);
    return failure;
}

// The hub runs what the bytes written make it run, or the run failed, whatever
// its compare said: a hub that boots something else was not updated.
const char* WorkflowRun::checkCameBack() {
    const std::optional<HubStatus>& status = outcome_.closingStatus;
    if (!status) return messages::kNoClosingStatus;
    const ExpectedCode& expected = *expected_;
    const bool right =
        status->flashCode == expected.flashCode &&
        (!expected.flashCode || !expected.version || status->firmwareVersion == *expected.version);
    if (right) return nullptr;
    const std::string ran = status->flashCode ? codeWords(true, status->firmwareVersion)
                                              : std::string(messages::kRomCodeWords) + " (" +
                                                    formatText("%04X", status->firmwareVersion) + ")";
    cameBack_ = formatText(messages::kCameBackFormat, ran.c_str(),
                           codeWords(expected.flashCode, expected.version).c_str());
    return cameBack_.c_str();
}

const char* WorkflowRun::backUpFlash(const char* failure) {
    if (context_.backups == nullptr) return nullptr;
    if (watch_) watch_->phase(RunPhase::Backup);
    std::string problem;
    const std::optional<KeptBackup> entry =
        takeFlashBackup(context_.connection, *context_.backups, outcome_.run, problem);
    if (!entry) {
        consoleLine(context_, "velmora backup: " + context_.backups->place() + ": " + problem);
        detail_ = formatText(messages::kBackupProblemFormat, problem.c_str());
        // Nothing was erased: the hub goes back to the firmware it still has.
        FL_ResetAndWait(flash::kResetToFlashCode, context_.connection);
        return failure;
    }
    backedUp_ = true;
    if (watch_) watch_->backedUp(entry->sha256);
    return nullptr;
}

const char* WorkflowRun::enterFlashSpan(const char* failure) {
    HubConnection& connection = context_.connection;
    if (!span_.begin(connection.flashSpanHost(), connection.openPortPath())) return failure;
    erased_ = true;
    return nullptr;
}

bool WorkflowRun::end(const char* failure, const char* failLine, const char* successLine) {
    failure = conclude(failure);
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
        if (!detail_.empty()) reporter.appendProgressInfo_Red(detail_);
        reporter.appendProgressInfo_Red(failLine);
        if (erased_) reporter.appendProgressInfo_Red(messages::kWayBack);
    } else if (successLine != nullptr) {
        reporter.appendProgressInfo_Blue(successLine);
    }
    USB_CloseHub(context_.connection);
    reporter.SetButtonStatus(true);
    span_.end();
    return failure == nullptr;
}

}  // namespace velmora
