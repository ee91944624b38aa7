#include "cli/ExitStatus.h"

#include "app/TextAppend.h"

namespace velmora::cli {
namespace {
std::string number(ExitStatus status) {
    return std::to_string(static_cast<int>(status));
}
}  // namespace

std::string exitStatusHelp() {
    std::string text;
    return appendText(
        text, {"Exit status: ", number(ExitStatus::Success), " success, ", number(ExitStatus::WorkflowFailed),
               " the hub operation failed, ", number(ExitStatus::BadUsage), " bad usage or unusable input."});
}

}  // namespace velmora::cli
