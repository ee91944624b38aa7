#pragma once
// The two ways the driver actions start other programs: a shell command run as
// the user (its result ignored), and a script run as administrator after the
// user's consent, whose outcome is waited for and passed on.
#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::driver {

class ShellRunner {
public:
    virtual ~ShellRunner() = default;
    virtual void run(const std::string& command) = 0;
};

class SystemShellRunner final : public ShellRunner {
public:
    void run(const std::string& command) override;
};

// How a script run as administrator ended.
enum class ScriptOutcome {
    Succeeded,    // it ran and exited 0
    Failed,       // it ran and exited otherwise (exitStatus), or was killed (128 + signal)
    Refused,      // the administrator's consent was refused or dismissed
    Missing,      // no executable script at the path
    CannotStart,  // the runner itself could not be started (reason)
};

struct ScriptResult {
    // A constructor rather than aggregate initialisation: GCC 12 at -O3 wrongly
    // warns that the reason of an aggregate temporary may be used uninitialised.
    ScriptResult() = default;
    ScriptResult(ScriptOutcome scriptOutcome, int status, std::string why = {})
        : outcome(scriptOutcome), exitStatus(status), reason(std::move(why)) {}

    ScriptOutcome outcome = ScriptOutcome::Succeeded;
    int exitStatus = 0;
    std::string reason;

    // True when the script itself ran, whatever it answered.
    bool ran() const { return outcome == ScriptOutcome::Succeeded || outcome == ScriptOutcome::Failed; }
    bool succeeded() const { return outcome == ScriptOutcome::Succeeded; }
};

class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    // Runs the script (an absolute path) with these arguments as root and waits for
    // it to end. Its standard streams are this program's, so a terminal user sees
    // the password question and the script's own messages in order.
    virtual ScriptResult run(const std::string& scriptPath, const std::vector<std::string>& arguments) = 0;
};

inline constexpr const char* kPkexecPath = "/usr/bin/pkexec";

// pkexec asks for an administrator's consent (through the desktop's polkit agent,
// or on the terminal) and runs the script as root with a clean environment.
class PkexecRunner final : public PrivilegedRunner {
public:
    explicit PkexecRunner(std::string pkexecPath = kPkexecPath) : pkexecPath_(std::move(pkexecPath)) {}
    ScriptResult run(const std::string& scriptPath, const std::vector<std::string>& arguments) override;

private:
    std::string pkexecPath_;
};

// For a program that already runs as root: the script itself, with the same
// clean environment pkexec would give it, and no question asked.
class DirectRunner final : public PrivilegedRunner {
public:
    ScriptResult run(const std::string& scriptPath, const std::vector<std::string>& arguments) override;
};

// The runner for a process with this effective user: DirectRunner for root,
// PkexecRunner (with that pkexec) for everyone else.
std::unique_ptr<PrivilegedRunner> privilegedRunnerFor(uid_t effectiveUser,
                                                      const std::string& pkexecPath = kPkexecPath);

}  // namespace velmora::driver
