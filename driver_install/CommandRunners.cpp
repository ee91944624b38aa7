#include "driver_install/CommandRunners.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace velmora::driver {
namespace {

// pkexec's own answers: the user dismissed the question, or was not authorised
// (or pkexec failed before the script could start).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;
constexpr int kSignalExitBase = 128;

constexpr const char* kRootPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

bool isExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The environment a script started by root gets: nothing of the caller's but the
// terminal type, like pkexec's clean environment.
std::vector<std::string> cleanEnvironment() {
    std::vector<std::string> variables = {kRootPath, "HOME=/root", "LOGNAME=root", "USER=root"};
    if (const char* terminal = std::getenv("TERM"); terminal != nullptr) {
        variables.push_back(std::string("TERM=") + terminal);
    }
    return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

struct Spawned {
    bool started = false;
    std::string reason;  // why not
    int waitStatus = 0;
};

Spawned spawnAndWait(std::vector<std::string> command, std::vector<std::string>* environment) {
    Spawned spawned;
    std::vector<char*> arguments = pointersTo(command);
    std::vector<char*> variables;
    if (environment != nullptr) variables = pointersTo(*environment);
    pid_t child = 0;
    const int error = posix_spawn(&child, arguments[0], nullptr, nullptr, arguments.data(),
                                  environment != nullptr ? variables.data() : environ);
    if (error != 0) {
        spawned.reason = command[0] + ": " + std::strerror(error);
        return spawned;
    }
    while (waitpid(child, &spawned.waitStatus, 0) < 0) {
        if (errno != EINTR) {
            spawned.reason = std::string("waiting for ") + command[0] + ": " + std::strerror(errno);
            return spawned;
        }
    }
    spawned.started = true;
    return spawned;
}

ScriptResult endedWith(int waitStatus) {
    ScriptResult result;
    if (WIFEXITED(waitStatus)) {
        result.exitStatus = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        result.exitStatus = kSignalExitBase + WTERMSIG(waitStatus);
    }
    result.outcome = result.exitStatus == 0 ? ScriptOutcome::Succeeded : ScriptOutcome::Failed;
    return result;
}

ScriptResult withOutcome(ScriptOutcome outcome, std::string reason = {}) {
    ScriptResult result;
    result.outcome = outcome;
    result.reason = std::move(reason);
    return result;
}

std::vector<std::string> commandOf(std::vector<std::string> front,
                                   const std::vector<std::string>& arguments) {
    front.insert(front.end(), arguments.begin(), arguments.end());
    return front;
}

}  // namespace

void SystemShellRunner::run(const std::string& command) {
    // The result is ignored by design: the caller has nothing to report.
    [[maybe_unused]] const int ignored = std::system(command.c_str());
}

ScriptResult PkexecRunner::run(const std::string& scriptPath, const std::vector<std::string>& arguments) {
    if (!isExecutableFile(scriptPath)) return withOutcome(ScriptOutcome::Missing);
    if (!isExecutableFile(pkexecPath_)) {
        return withOutcome(ScriptOutcome::CannotStart, pkexecPath_ + " is missing");
    }
    const Spawned spawned = spawnAndWait(commandOf({pkexecPath_, scriptPath}, arguments), nullptr);
    if (!spawned.started) return withOutcome(ScriptOutcome::CannotStart, spawned.reason);
    ScriptResult result = endedWith(spawned.waitStatus);
    // A script of ours never exits with these two, so they are pkexec's.
    if (result.exitStatus == kPkexecDismissed || result.exitStatus == kPkexecNotAuthorized) {
        return withOutcome(ScriptOutcome::Refused);
    }
    return result;
}

ScriptResult DirectRunner::run(const std::string& scriptPath, const std::vector<std::string>& arguments) {
    if (!isExecutableFile(scriptPath)) return withOutcome(ScriptOutcome::Missing);
    std::vector<std::string> environment = cleanEnvironment();
    const Spawned spawned = spawnAndWait(commandOf({scriptPath}, arguments), &environment);
    if (!spawned.started) return withOutcome(ScriptOutcome::CannotStart, spawned.reason);
    return endedWith(spawned.waitStatus);
}

std::unique_ptr<PrivilegedRunner> privilegedRunnerFor(uid_t effectiveUser, const std::string& pkexecPath) {
    if (effectiveUser == 0) return std::make_unique<DirectRunner>();
    return std::make_unique<PkexecRunner>(pkexecPath);
}

}  // namespace velmora::driver
