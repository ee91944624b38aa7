#pragma once
// A system bus of the test's own (a private dbus-daemon on a socket in a scratch
// folder) with a stand-in for logind on it: python3-dbusmock's logind template,
// whose Inhibit hands out a descriptor and lists the lock until it is closed.
// Programs reach it through its address (DBUS_SYSTEM_BUS_ADDRESS). Where the
// daemon or dbusmock is missing, usable() is false and problem() says why; the
// tests skip then.
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"

namespace velmora::testing {

class LogindStandIn {
public:
    enum class Logind { Running, Absent };  // Absent: the bus alone, nobody owns logind's name
    explicit LogindStandIn(Logind logind = Logind::Running);
    ~LogindStandIn();
    LogindStandIn(const LogindStandIn&) = delete;
    LogindStandIn& operator=(const LogindStandIn&) = delete;

    bool usable() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }
    const std::string& address() const { return address_; }
    // "DBUS_SYSTEM_BUS_ADDRESS=..." for a child process.
    std::string environmentWord() const { return "DBUS_SYSTEM_BUS_ADDRESS=" + address_; }

    struct Inhibitor {
        std::string what, who, why, mode;
    };
    // The locks logind holds, once it holds count of them: the stand-in drops a
    // lock on its own loop a moment after the holder closes its descriptor, so the
    // list is asked again until it agrees (or a few seconds passed: then as it is).
    std::vector<Inhibitor> inhibitors(std::size_t count);
    // From now on logind refuses block locks, as it does a caller away from the
    // machine's seat.
    bool refuseBlock();

private:
    pid_t start(std::vector<std::string> words, bool onTheBus);
    bool list(std::vector<Inhibitor>& listed);

    ScratchFolder scratch_{"velmora-logind"};
    std::string address_;
    std::string problem_;
    pid_t daemon_ = -1;
    pid_t logind_ = -1;
};

}  // namespace velmora::testing
