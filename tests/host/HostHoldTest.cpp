// The host held off the hubs in their flash spans, against a logind stand-in on a
// private system bus and a sysfs tree of the test's own: one lock for the process
// from the first span in to the last out, a delay lock where block is refused
// (said once), a run that goes on without a bus, logind or an answer, and
// autosuspend off for the span with the earlier value back after.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Console.h"
#include "host/HostHold.h"
#include "host/HostMessages.h"
#include "host/SignalDeferral.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogindStandIn.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::host {
namespace {

using testing::LogindStandIn;

bool anyLineHas(const std::vector<std::string>& lines, const std::string& words) {
    for (const std::string& line : lines)
        if (line.find(words) != std::string::npos) return true;
    return false;
}

// A hold that takes only the lock, on the bus at address, telling what it says.
class LockOnly {
public:
    explicit LockOnly(const std::string& address, std::chrono::milliseconds timeout = kInhibitorTimeout)
        : hold_(settings(address, timeout)) {}
    HostHold& hold() { return hold_; }
    std::vector<std::string> lines() const { return console_.lines(); }
    const std::vector<std::string>& notices() const { return notices_; }

private:
    HostHoldSettings settings(const std::string& address, std::chrono::milliseconds timeout) {
        HostHoldSettings settings;
        settings.autosuspend = false;
        settings.bus.busAddress = address;
        settings.bus.timeout = timeout;
        settings.console = &console_;
        settings.notice = [this](const std::string& line) { notices_.push_back(line); };
        return settings;
    }

    RecordingConsole console_;
    std::vector<std::string> notices_;
    HostHold hold_;
};

TEST(HostHoldTest, OneLockFromTheFirstSpanInToTheLastOut) {
    LogindStandIn logind;
    if (!logind.usable()) GTEST_SKIP() << logind.problem();
    LockOnly host(logind.address());
    ASSERT_TRUE(host.hold().enterSpan("1-1"));
    ASSERT_TRUE(host.hold().enterSpan("1-2"));
    std::vector<LogindStandIn::Inhibitor> held = logind.inhibitors(1);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].what, messages::kInhibitBlockWhat);
    EXPECT_EQ(held[0].who, "Velmora");
    EXPECT_EQ(held[0].why, "Firmware update in progress on 1-1");
    EXPECT_EQ(held[0].mode, "block");
    // The first hub out leaves the lock to the one still writing.
    host.hold().leaveSpan("1-1");
    EXPECT_EQ(logind.inhibitors(1).size(), 1u);
    host.hold().leaveSpan("1-2");
    EXPECT_TRUE(logind.inhibitors(0).empty());
    // The next span takes a lock of its own.
    ASSERT_TRUE(host.hold().enterSpan("1-2"));
    EXPECT_EQ(logind.inhibitors(1).size(), 1u);
    host.hold().leaveSpan("1-2");
    EXPECT_TRUE(logind.inhibitors(0).empty());
    EXPECT_TRUE(host.notices().empty());
}

TEST(HostHoldTest, WhereBlockIsRefusedSleepIsDelayedAndThatIsSaidOnce) {
    LogindStandIn logind;
    if (!logind.usable()) GTEST_SKIP() << logind.problem();
    ASSERT_TRUE(logind.refuseBlock());
    LockOnly host(logind.address());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(host.hold().enterSpan("2-4.1"));
        const std::vector<LogindStandIn::Inhibitor> held = logind.inhibitors(1);
        ASSERT_EQ(held.size(), 1u);
        EXPECT_EQ(held[0].what, "shutdown:sleep");
        EXPECT_EQ(held[0].mode, "delay");
        host.hold().leaveSpan("2-4.1");
        EXPECT_TRUE(logind.inhibitors(0).empty());
    }
    ASSERT_EQ(host.notices().size(), 1u);
    EXPECT_NE(host.notices()[0].find("only delayed"), std::string::npos) << host.notices()[0];
    EXPECT_NE(host.notices()[0].find("AccessDenied"), std::string::npos) << host.notices()[0];
}

// A Unix socket that takes connections into its backlog and never answers.
class SilentBus {
public:
    explicit SilentBus(const std::string& path) : socket_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        listening_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(socket_, 4) == 0;
    }
    ~SilentBus() { ::close(socket_); }
    bool listening() const { return listening_; }
    // Waits for a caller; its connection is dropped unanswered with the bus.
    void awaitCaller() const { (void)::accept(socket_, nullptr, nullptr); }

private:
    int socket_;
    bool listening_ = false;
};

enum class Bus { Missing, WithoutLogind, Silent };

struct LocklessCase {
    const char* name;
    Bus bus;
    const char* said;  // in the diagnostic line
};

class HostHoldLocklessTest : public ::testing::TestWithParam<LocklessCase> {};

TEST_P(HostHoldLocklessTest, TheRunGoesOnAndTheDiagnosticSaysWhy) {
    testing::ScratchFolder scratch{"velmora-no-lock"};
    std::string address = "unix:path=" + scratch.path("bus");
    std::optional<LogindStandIn> daemonOnly;
    std::optional<SilentBus> silent;
    if (GetParam().bus == Bus::WithoutLogind) {
        daemonOnly.emplace(LogindStandIn::Logind::Absent);
        if (!daemonOnly->usable()) GTEST_SKIP() << daemonOnly->problem();
        address = daemonOnly->address();
    } else if (GetParam().bus == Bus::Silent) {
        ASSERT_TRUE(silent.emplace(scratch.path("bus")).listening());
    }
    LockOnly host(address, std::chrono::milliseconds(300));
    EXPECT_TRUE(host.hold().enterSpan("1-1"));
    host.hold().leaveSpan("1-1");
    EXPECT_TRUE(anyLineHas(host.lines(), "no logind lock")) << ::testing::PrintToString(host.lines());
    EXPECT_TRUE(anyLineHas(host.lines(), GetParam().said)) << ::testing::PrintToString(host.lines());
    EXPECT_TRUE(host.notices().empty());
}

INSTANTIATE_TEST_SUITE_P(Buses, HostHoldLocklessTest,
                         ::testing::Values(LocklessCase{"NoBus", Bus::Missing, "no system bus at unix:path="},
                                           LocklessCase{"NoLogind", Bus::WithoutLogind,
                                                        "logind does not answer on the system bus"},
                                           LocklessCase{"BusThatNeverAnswers", Bus::Silent,
                                                        "did not answer within 300 ms"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A stop that comes while the lock is being taken is held, and ends the process
// before the span is entered: nothing is erased.
TEST(HostHoldTest, AStopWhileTheLockIsTakenEndsTheProcessBeforeTheErase) {
    testing::ScratchFolder scratch{"velmora-stop-locking"};
    const testing::ChildEnd end = testing::runInChild([&scratch] {
        testing::useDefaultStopSignals();
        const SilentBus bus(scratch.path("bus"));
        SignalDeferral owner("velmora-test");
        HostHoldSettings settings;
        settings.autosuspend = false;
        settings.bus.busAddress = "unix:path=" + scratch.path("bus");
        settings.bus.timeout = std::chrono::milliseconds(1000);
        settings.signalOwner = &owner;
        HostHold hold(std::move(settings));
        std::thread stopper([&bus] {
            bus.awaitCaller();
            ::kill(::getpid(), SIGTERM);
        });
        stopper.detach();
        return hold.enterSpan("1-1") ? 1 : 2;  // neither: the process ends inside
    });
    EXPECT_EQ(end.signal, SIGTERM) << "exit " << end.exitStatus.value_or(-1);
}

// power/control of the device on port 1-1, in a sysfs tree of the test's own.
class AutosuspendTest : public ::testing::Test {
protected:
    HostHold& hold() { return hold_; }
    void device(const std::string& control, const std::string& number) {
        scratch_.writeText(kDevice + "power/control", control + "\n");
        scratch_.writeText(kDevice + "devnum", number + "\n");
    }
    std::string control() {
        std::ifstream file(scratch_.path(kDevice + "power/control"));
        std::string value;
        std::getline(file, value);
        return value;
    }
    std::vector<std::string> lines() const { return console_.lines(); }

private:
    HostHoldSettings settings() {
        HostHoldSettings settings;
        settings.inhibit = false;
        settings.sysfsRoot = scratch_.path();
        settings.console = &console_;
        return settings;
    }

    const std::string kDevice = "bus/usb/devices/1-1/";
    testing::ScratchFolder scratch_{"velmora-sysfs"};
    RecordingConsole console_;
    HostHold hold_{settings()};
};

struct ControlCase {
    const char* name;
    const char* before;
    const char* comeBackAs;  // empty: the same device all along; else the new device's control
    const char* during;
    const char* after;
};

class AutosuspendCaseTest : public AutosuspendTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(AutosuspendCaseTest, IsOffForTheSpanAndAsBeforeAfter) {
    device(GetParam().before, "5");
    ASSERT_TRUE(hold().enterSpan("1-1"));
    EXPECT_EQ(control(), GetParam().during);
    // The final reset: the hub leaves the bus and comes back as a new device.
    if (GetParam().comeBackAs[0] != '\0') device(GetParam().comeBackAs, "6");
    hold().leaveSpan("1-1");
    EXPECT_EQ(control(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Controls, AutosuspendCaseTest,
                         ::testing::Values(ControlCase{"AutoIsTurnedOffThenBack", "auto", "", "on", "auto"},
                                           ControlCase{"OnStaysOn", "on", "", "on", "on"},
                                           // The new device's setting is the kernel's and the device rule's.
                                           ControlCase{"ANewDeviceKeepsItsOwn", "auto", "on", "on", "on"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AutosuspendTest, AHubWithoutItsSysfsFolderIsStillUpdated) {
    EXPECT_TRUE(hold().enterSpan("1-1"));
    hold().leaveSpan("1-1");
    EXPECT_TRUE(anyLineHas(lines(), "autosuspend of the hub on 1-1 left as it is")) << lines().size();
    // A port path that is no port leads nowhere.
    device("auto", "5");
    EXPECT_TRUE(hold().enterSpan("1-1/../1-1"));
    EXPECT_EQ(control(), "auto");
    hold().leaveSpan("1-1/../1-1");
    EXPECT_TRUE(anyLineHas(lines(), "is not a USB port"));
}

}  // namespace
}  // namespace velmora::host
