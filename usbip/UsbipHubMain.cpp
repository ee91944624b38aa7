// velmora-usbip-hub: plugs the simulated hub into this machine's kernel through
// its virtual host controller (module vhci-hcd), so that the real USB core,
// usbfs, Brennic and libusb stand between velmora-cli and the hub model. Runs as
// root until SIGTERM or SIGINT, then unplugs the hub. Used by the virtual-machine
// test; needs no network and no USB/IP daemon.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/Config.h"
#include "app/Console.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "device/simulated/SimulationScenarios.h"
#include "usbip/ServerControl.h"
#include "usbip/UsbipServer.h"

namespace {

using namespace velmora;

constexpr int kExitBadUsage = 2;
constexpr int kExitFailed = 1;
// How long a round waits for the kernel; also how soon a returning hub is plugged in.
constexpr Milliseconds kRound{20};
constexpr Milliseconds kLongestReboot{60000};

constexpr const char* kUsage = R"(Usage: velmora-usbip-hub [OPTIONS]

Plugs a simulated Zelo Hub into this machine's USB stack through the kernel's
virtual host controller (modprobe vhci-hcd first; needs root). Runs until it is
stopped with SIGTERM or SIGINT, then unplugs the hub.

Options:
  --config FILE       the hub takes the identity of the first valid entry of FILE
                      (default: config.ini of the resource folder)
  --scenario NAME     how the hub starts (the names of velmora-cli --simulate;
                      default flash-code)
  --reboot-ms N       how long a reset keeps the hub off the bus (default 1500)
  --control FIFO      read commands from the named pipe FIFO, one per line, and
                      print "ok COMMAND" or "error COMMAND: WHY" for each:
                        faults SCENARIO   take the faults of SCENARIO from now on
                        flash PATH        save the flash contents to PATH
  --controller DIR    the controller's sysfs folder (default
                      /sys/devices/platform/vhci_hcd.0)
  -h, --help          show this help
)";

struct Options {
    std::optional<std::string> config;
    std::string scenario{sim::kDefaultSimulationScenario};
    Milliseconds rebootTime = sim::kDefaultRebootTime;
    std::string control;
    std::string controller = usbip::kVhciControllerFolder;
    bool help = false;
    std::string error;
};

bool parseMilliseconds(const std::string& text, Milliseconds& value) {
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < 0 || number > kLongestReboot.count())
        return false;
    value = Milliseconds(number);
    return true;
}

Options parseOptions(const std::vector<std::string>& words) {
    Options options;
    for (std::size_t i = 0; i < words.size() && options.error.empty(); ++i) {
        const std::string& word = words[i];
        if (word == "-h" || word == "--help") {
            options.help = true;
            continue;
        }
        const bool takesValue = word == "--config" || word == "--scenario" || word == "--reboot-ms" ||
                                word == "--control" || word == "--controller";
        if (!takesValue) {
            options.error = "unknown option " + word;
        } else if (i + 1 >= words.size()) {
            options.error = word + " needs a value";
        } else {
            const std::string& value = words[++i];
            if (word == "--config") options.config = value;
            if (word == "--scenario") options.scenario = value;
            if (word == "--control") options.control = value;
            if (word == "--controller") options.controller = value;
            if (word == "--reboot-ms" && !parseMilliseconds(value, options.rebootTime))
                options.error = "--reboot-ms takes a number of milliseconds up to 60000";
        }
    }
    if (options.error.empty() && !sim::isSimulationScenario(options.scenario))
        options.error = "unknown scenario " + options.scenario;
    return options;
}

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

// Lines from the control pipe, taken without blocking. The pipe is opened for
// writing too, so that it never reads as ended between two writers.
class ControlPipe {
public:
    explicit ControlPipe(const std::string& path) {
        if (!path.empty()) descriptor_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    ~ControlPipe() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    bool failed(const std::string& path) const { return !path.empty() && descriptor_ < 0; }

    std::vector<std::string> takeLines() {
        std::vector<std::string> lines;
        if (descriptor_ < 0) return lines;
        char buffer[256];
        ssize_t got = 0;
        while ((got = ::read(descriptor_, buffer, sizeof buffer)) > 0)
            pending_.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            if (end > 0) lines.push_back(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
        return lines;
    }

private:
    int descriptor_ = -1;
    std::string pending_;
};

int serve(const Options& options) {
    SilentConsole console;
    const AppConfig config =
        initFromIni(options.config.value_or(resourceFolder() + "/" + kConfigFileName), console);
    const SupportedDevice identity = sim::simulatedHubIdentity(config.table);
    SystemClock clock;
    sim::SimulatedBus bus(clock);
    sim::applySimulationScenario(options.scenario, bus, identity, options.rebootTime);
    const std::vector<sim::SimulatedHub*> hubs = bus.hubs();
    if (hubs.size() != 1) {
        std::cerr << "velmora-usbip-hub: scenario " << options.scenario << " is not about one hub\n";
        return kExitBadUsage;
    }
    ControlPipe control(options.control);
    if (control.failed(options.control)) {
        std::cerr << "velmora-usbip-hub: cannot open the control pipe " << options.control << '\n';
        return kExitFailed;
    }
    signal(SIGTERM, requestStop);
    signal(SIGINT, requestStop);
    usbip::SysfsHostController controller(options.controller);
    usbip::UsbipServer server(*hubs.front(), controller, std::cerr);
    while (stopRequested == 0) {
        server.serveFor(kRound);
        for (const std::string& line : control.takeLines())
            std::cout << usbip::runControlCommand(line, *hubs.front(), identity) << std::endl;
    }
    server.stop();
    return server.attachments() > 0 ? 0 : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (!options.error.empty()) {
        std::cerr << "velmora-usbip-hub: " << options.error << "\n\n" << kUsage;
        return kExitBadUsage;
    }
    return serve(options);
}
