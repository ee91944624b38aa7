#include "driver_install/CommandRunners.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace velmora::driver {
namespace {

constexpr const char* kPkexecPath = "/usr/bin/pkexec";
constexpr int kExecFailedStatus = 127;

void waitFor(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
}

// Only async-signal-safe calls after fork: the program may have other threads.
[[noreturn]] void execPkexec(char* const* arguments) {
    execv(kPkexecPath, arguments);
    _exit(kExecFailedStatus);
}

}  // namespace

void SystemShellRunner::run(const std::string& command) {
    // The result is ignored by design: the caller has nothing to report.
    [[maybe_unused]] const int ignored = std::system(command.c_str());
}

void PkexecRunner::run(const std::string& scriptPath) {
    std::string program = kPkexecPath;
    std::string script = scriptPath;
    char* const arguments[] = {program.data(), script.data(), nullptr};

    const pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        if (completion_ == Completion::Wait) execPkexec(arguments);
        // Detached: an intermediate child starts pkexec and leaves at once, so
        // pkexec is adopted by init and never lingers as a zombie of ours.
        const pid_t grandchild = fork();
        if (grandchild == 0) execPkexec(arguments);
        _exit(0);
    }
    waitFor(child);
}

}  // namespace velmora::driver
