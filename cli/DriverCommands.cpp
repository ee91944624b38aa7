#include "cli/DriverCommands.h"

#include "cli/CliText.h"
#include "workflows/TextFormat.h"

namespace velmora::cli {

ExitStatus runDriver(const CommandContext& command) {
    if (command.arguments.empty()) {
        return command.fail(ExitStatus::BadUsage, text::missingArgument("driver", "load or unload"));
    }
    const std::string& action = command.arguments.front();
    if (action != "load" && action != "unload") {
        return command.fail(ExitStatus::BadUsage, text::unexpectedArgument("driver", action));
    }
    if (command.arguments.size() > 1) {
        return command.fail(ExitStatus::BadUsage, text::unexpectedArgument("driver " + action,
                                                                           command.arguments[1]));
    }
    return command.fail(ExitStatus::WorkflowFailed, formatText(text::kDriverNotAvailable, action.c_str()));
}

}  // namespace velmora::cli
