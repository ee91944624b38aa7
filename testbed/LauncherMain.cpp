// velmora-testbed: runs any program against the emulated hub, for demonstrations
// and debugging. The bus lives in this process; the program runs as a child with
// umockdev's library preloaded and reaches the hub model through the usbfs node.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/Config.h"
#include "app/Console.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "device/simulated/SimulationScenarios.h"
#include "testbed/LauncherOptions.h"
#include "testbed/PreloadEnvironment.h"
#include "testbed/UsbfsTestbed.h"

namespace {

constexpr int kExitBadUsage = 2;
constexpr int kExitCannotRun = 127;
constexpr int kExitSignalBase = 128;

int exitCodeOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return kExitSignalBase + WTERMSIG(waitStatus);
    return kExitCannotRun;
}

// The command runs in a child so that the bus, in this process, outlives it.
int runUnderTestbed(const std::vector<std::string>& command) {
    std::vector<char*> arguments;
    for (const std::string& word : command) arguments.push_back(const_cast<char*>(word.c_str()));
    arguments.push_back(nullptr);
    const std::string preload = velmora::usbfs::preloadListForChild();

    const pid_t child = fork();
    if (child < 0) {
        std::perror("velmora-testbed: fork");
        return kExitCannotRun;
    }
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        execvp(arguments[0], arguments.data());
        std::fprintf(stderr, "velmora-testbed: cannot run %s\n", arguments[0]);
        _exit(kExitCannotRun);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return kExitCannotRun;
    }
    return exitCodeOf(status);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora;
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

    SilentConsole console;
    const AppConfig config =
        initFromIni(options.configPath.value_or(resourceFolder() + "/" + kConfigFileName), console);
    const std::string scenario =
        options.scenario.empty() ? std::string(sim::kDefaultSimulationScenario) : options.scenario;

    SystemClock clock;
    sim::SimulatedBus bus(clock);
    sim::applySimulationScenario(scenario, bus, sim::simulatedHubIdentity(config.table), options.rebootTime);
    // Ctrl-C goes to the command; this process stays to take the testbed down.
    signal(SIGINT, SIG_IGN);
    usbfs::UsbfsTestbed testbed(bus);
    testbed.watchInRealTime(usbfs::kLauncherBusLookInterval);
    std::fprintf(stderr, "velmora-testbed: scenario %s, emulated system in %s\n", scenario.c_str(),
                 testbed.rootDirectory().c_str());
    return runUnderTestbed(options.command);
}
