#pragma once
// The command line's exit statuses: the three answers a script can rely on. The
// help's line and the documentation take them from here.
#include <string>

namespace velmora::cli {

enum class ExitStatus : int {
    Success = 0,
    WorkflowFailed = 1,  // the hub operation failed (on any hub of several)
    BadUsage = 2,        // wrong words, or an input file that cannot be used
};

// "Exit status: 0 success, 1 the hub operation failed, 2 bad usage or unusable input."
std::string exitStatusHelp();

}  // namespace velmora::cli
