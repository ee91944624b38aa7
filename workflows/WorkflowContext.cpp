#include "workflows/WorkflowContext.h"

#include "app/Console.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {

void beginWorkflow(WorkflowReporter& reporter) {
    reporter.SetButtonStatus(false);
}

const char* openFailure(const HubConnection& connection, const char* stepFailure) {
    return connection.refusedAsBusy() ? messages::kHubBusy : stepFailure;
}

void consoleLine(const WorkflowContext& context, const std::string& line) {
    if (context.console != nullptr) context.console->line(line);
}

}  // namespace velmora
