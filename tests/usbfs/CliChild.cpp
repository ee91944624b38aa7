#include "tests/usbfs/CliChild.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string_view>

#include "testbed/ClockServer.h"

extern char** environ;

namespace velmora::usbfs::testing {

CliChildEnd runCliChild(Clock& servedClock, const CliChild& child) {
    CliChildEnd end;
    std::vector<std::string> command = child.command;
    std::vector<char*> arguments;
    for (std::string& word : command) arguments.push_back(word.data());
    arguments.push_back(nullptr);
    const std::string outputPath = child.outputPath.string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The child's waits pass in this process's virtual time.
    ClockServer clock(servedClock);
    if (!clock.ready()) return end;
    posix_spawn_file_actions_adddup2(&actions, clock.clientDescriptor(), clock.clientDescriptor());
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (!std::string_view(*variable).starts_with("XDG_STATE_HOME=")) environment.emplace_back(*variable);
    }
    environment.push_back("XDG_STATE_HOME=" + child.stateFolder.string());
    environment.push_back(std::string("VELMORA_SIMULATED_TIME=fd:") +
                          std::to_string(clock.clientDescriptor()));
    std::vector<char*> environmentPointers;
    for (std::string& variable : environment) environmentPointers.push_back(variable.data());
    environmentPointers.push_back(nullptr);
    // As from a terminal: the stop signals at their default actions and none
    // blocked, whatever the test runner started this process with.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stopSignals, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &stopSignals);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t process = 0;
    const int error = posix_spawn(&process, arguments[0], &actions, &attributes, arguments.data(),
                                  environmentPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    clock.releaseClientDescriptor();
    if (error != 0) return end;
    if (child.started) child.started(process);
    int status = 0;
    if (waitpid(process, &status, 0) != process) return end;
    std::ifstream written(outputPath);
    end.output.assign(std::istreambuf_iterator<char>(written), {});
    if (WIFEXITED(status)) end.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    return end;
}

}  // namespace velmora::usbfs::testing
