#include "workflows/WorkflowContext.h"

#include "app/Console.h"
#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "device/FlashOperations.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {

void beginWorkflow(WorkflowReporter& reporter) {
    reporter.SetButtonStatus(false);
}

const char* openFailure(const HubConnection& connection, const char* stepFailure) {
    return connection.refusedAsBusy() ? messages::kHubBusy : stepFailure;
}

std::optional<std::string> busyPortText(const HubConnection& connection) {
    const std::optional<HeldPortLock>& held = connection.busyPort();
    if (!connection.refusedAsBusy() || !held) return std::nullopt;
    return busyPortText(*held);
}

std::string busyPortText(const HeldPortLock& held) {
    return formatText(messages::kBusyPortFormat, lockHolderText(held.holder).c_str(),
                      printableText(held.portPath).c_str());
}

void consoleLine(const WorkflowContext& context, const std::string& line) {
    if (context.console != nullptr) context.console->line(line);
}

WaitReports::WaitReports(const WorkflowContext& context) : connection_(context.connection) {
    WorkflowReporter& reporter = context.reporter;
    connection_.setWaitObserver([&reporter](const HubConnection::ResetWait& wait) {
        if (wait.ended) {
            reporter.endWait();
            return;
        }
        const char* format = wait.resetCode == flash::kResetToRomCode ? messages::kWaitForRomCodeFormat
                                                                      : messages::kWaitForFlashCodeFormat;
        const double seconds = std::chrono::duration<double>(wait.waited).count();
        reporter.showWait(formatText(format, seconds), seconds);
    });
}

WaitReports::~WaitReports() {
    connection_.setWaitObserver(nullptr);
}

}  // namespace velmora
