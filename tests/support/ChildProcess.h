#pragma once
// Runs a piece of a test in a child process: for what would block the test program
// for good (opening a planted FIFO) or end it (a kill in the middle of a write).
// The child's alarm is only a guard, so a regression fails the test instead of
// hanging the suite; no result depends on how long anything takes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>

namespace velmora::testing {

inline constexpr unsigned kChildGuardSeconds = 60;

struct ChildEnd {
    std::optional<int> exitStatus;  // set when the child exited
    int signal = 0;                 // the signal that ended it, else 0
};

inline ChildEnd runInChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(kChildGuardSeconds);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ChildEnd end;
    if (WIFEXITED(status)) end.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    return end;
}

// In a child that owns its stop signals: as a program started from a terminal,
// whatever the test runner ignored or blocked (a background job ignores SIGINT).
inline void useDefaultStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        ::signal(signal, SIG_DFL);
        sigaddset(&stops, signal);
    }
    ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace velmora::testing
