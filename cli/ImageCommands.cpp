#include "cli/ImageCommands.h"

#include "cli/CliText.h"
#include "cli/ImageEdit.h"
#include "cli/ImageShow.h"
#include "cli/ImageSigning.h"

namespace velmora::cli {

ExitStatus runImage(const CommandContext& command) {
    if (command.arguments.empty()) {
        return command.fail(ExitStatus::BadUsage,
                            text::missingArgument("image", "show, edit, keygen, sign or verify"));
    }
    const std::string& action = command.arguments.front();
    CommandContext inner = command;
    inner.arguments.erase(inner.arguments.begin());
    if (action == "show") return runImageShow(inner);
    if (command.options.json)
        return command.fail(ExitStatus::BadUsage, text::jsonNotSupported("image " + action));
    if (action == "edit") return runImageEdit(inner);
    if (action == "keygen") return runImageKeygen(inner);
    if (action == "sign") return runImageSign(inner);
    if (action == "verify") return runImageVerify(inner);
    return command.fail(ExitStatus::BadUsage, text::unknownCommand("image " + action));
}

}  // namespace velmora::cli
