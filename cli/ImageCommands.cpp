#include "cli/ImageCommands.h"

#include "cli/CliText.h"

namespace velmora::cli {

ExitStatus runImage(const CommandContext& command) {
    if (command.arguments.empty()) {
        return command.fail(ExitStatus::BadUsage, text::missingArgument("image", "show or edit"));
    }
    return command.fail(ExitStatus::BadUsage, text::unknownCommand("image " + command.arguments.front()));
}

}  // namespace velmora::cli
