#include "workflows/WorkflowContext.h"

namespace velmora {

void beginWorkflow(WorkflowReporter& reporter) {
    reporter.SetButtonStatus(false);
}

}  // namespace velmora
