// velmora-testbed: runs any program against the emulated hub, for demonstrations
// and debugging. The bus lives in this process; the program runs as a child with
// umockdev's library preloaded and reaches the hub model through the usbfs node.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/Config.h"
#include "app/Console.h"
#include "device/RemoteClock.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "device/simulated/SimulationScenarios.h"
#include "testbed/ClockServer.h"
#include "testbed/LauncherOptions.h"
#include "testbed/PreloadEnvironment.h"
#include "testbed/TestbedClock.h"
#include "testbed/UsbfsTestbed.h"

namespace {

using namespace velmora;

constexpr int kExitBadUsage = 2;
constexpr int kExitCannotRun = 127;
constexpr int kExitSignalBase = 128;

int exitCodeOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return kExitSignalBase + WTERMSIG(waitStatus);
    return kExitCannotRun;
}

// The command runs in a child so that the bus, in this process, outlives it.
// With a clock server, the child gets its end and is told where it is.
int runUnderTestbed(const std::vector<std::string>& command, usbfs::ClockServer* clock) {
    std::vector<char*> arguments;
    for (const std::string& word : command) arguments.push_back(const_cast<char*>(word.c_str()));
    arguments.push_back(nullptr);
    const std::string preload = usbfs::preloadListForChild();
    std::string clockSetting;
    if (clock != nullptr) clockSetting = kRemoteClockPrefix + std::to_string(clock->clientDescriptor());

    const pid_t child = fork();
    if (child < 0) {
        std::perror("velmora-testbed: fork");
        return kExitCannotRun;
    }
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        if (clock != nullptr) {
            fcntl(clock->clientDescriptor(), F_SETFD, 0);  // kept across the exec
            setenv(kRemoteClockVariable, clockSetting.c_str(), 1);
        }
        execvp(arguments[0], arguments.data());
        std::fprintf(stderr, "velmora-testbed: cannot run %s\n", arguments[0]);
        _exit(kExitCannotRun);
    }
    // The child holds its end now; once it ends, the server sees the socket close.
    if (clock != nullptr) clock->releaseClientDescriptor();
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return kExitCannotRun;
    }
    return exitCodeOf(status);
}

void announce(const std::string& scenario, const usbfs::UsbfsTestbed& testbed, const char* time) {
    std::fprintf(stderr, "velmora-testbed: scenario %s, %s time, emulated system in %s\n", scenario.c_str(),
                 time, testbed.rootDirectory().c_str());
}

// The hubs reset and come back in real time; the bus is looked at all along.
int runInRealTime(const usbfs::LauncherOptions& options, const SupportedDevice& identity,
                  const std::string& scenario) {
    SystemClock clock;
    sim::SimulatedBus bus(clock);
    sim::applySimulationScenario(scenario, bus, identity, options.rebootTime);
    usbfs::UsbfsTestbed testbed(bus);
    testbed.watchInRealTime(usbfs::kLauncherBusLookInterval);
    announce(scenario, testbed, "real");
    return runUnderTestbed(options.command, nullptr);
}

// Time passes only when the command waits: each of its sleeps moves the bus.
int runInVirtualTime(const usbfs::LauncherOptions& options, const SupportedDevice& identity,
                     const std::string& scenario) {
    VirtualClock virtualClock;
    sim::SimulatedBus bus(virtualClock);
    sim::applySimulationScenario(scenario, bus, identity, options.rebootTime);
    usbfs::UsbfsTestbed testbed(bus);
    usbfs::TestbedClock clock(virtualClock, testbed);
    usbfs::ClockServer server(clock);
    if (!server.ready()) {
        std::perror("velmora-testbed: no socket for the command's clock");
        return kExitCannotRun;
    }
    announce(scenario, testbed, "virtual");
    return runUnderTestbed(options.command, &server);
}

}  // namespace

int main(int argc, char** argv) {
    const usbfs::LauncherOptions options =
        usbfs::parseLauncherOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(usbfs::launcherUsage().c_str(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "velmora-testbed: %s\n%s", options.error.c_str(),
                     usbfs::launcherUsage().c_str());
        return kExitBadUsage;
    }
    // The remove and add uevents of a hub's reset are sent from this process, and
    // reach the command only when this process runs under umockdev's preload too;
    // without them the command keeps the node of a hub that has left.
    if (!usbfs::isPreloaded()) {
        usbfs::restartUnderPreload(argv);
        std::perror("velmora-testbed: cannot restart with umockdev preloaded");
        return kExitCannotRun;
    }

    SilentConsole console;
    const AppConfig config = initFromIni(options.configPath.value_or(defaultConfigFile()), console);
    const std::string scenario =
        options.scenario.empty() ? std::string(sim::kDefaultSimulationScenario) : options.scenario;
    // Ctrl-C goes to the command; this process stays to take the testbed down.
    signal(SIGINT, SIG_IGN);
    const SupportedDevice identity = sim::simulatedHubIdentity(config.table);
    return options.virtualTime ? runInVirtualTime(options, identity, scenario)
                               : runInRealTime(options, identity, scenario);
}
