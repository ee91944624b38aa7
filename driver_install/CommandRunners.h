#pragma once
// The two ways the driver actions start other programs: a shell command run as
// the user (its result ignored), and a script started as administrator after the
// user's consent (not waited for, its result not examined).
#include <string>

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

class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    // scriptPath is an absolute path, handed to the runner as one argument.
    virtual void run(const std::string& scriptPath) = 0;
};

// pkexec asks for an administrator's consent (through the desktop's polkit agent,
// or on the terminal) and runs the script as root. By default the script is
// started and left to run; a terminal caller may rather wait, so that pkexec's
// password question and its own output do not interleave.
class PkexecRunner final : public PrivilegedRunner {
public:
    enum class Completion { Detach, Wait };
    explicit PkexecRunner(Completion completion = Completion::Detach) : completion_(completion) {}
    void run(const std::string& scriptPath) override;

private:
    Completion completion_;
};

}  // namespace velmora::driver
