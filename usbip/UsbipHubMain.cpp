// velmora-usbip-hub: plugs simulated hubs into this machine's kernel through its
// virtual host controller (module vhci-hcd), so that the real USB core, the hub
// driver, usbfs, Brennic and libusb stand between velmora-cli and the hub model.
// Runs as root until SIGTERM or SIGINT, then unplugs the hubs. Used by the
// virtual-machine test and benchmark; needs no network and no USB/IP daemon.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppPaths.h"
#include "app/Config.h"
#include "app/Console.h"
#include "app/TextFormat.h"
#include "device/simulated/SimulatedBus.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "device/simulated/SimulationScenarios.h"
#include "usbip/ServerControl.h"
#include "usbip/UsbipServer.h"

namespace {

using namespace velmora;

constexpr int kExitBadUsage = 2;
constexpr int kExitFailed = 1;
// How long a round waits for the kernel while the hubs are on the bus (they are
// looked at sooner while off it), and for a line of the control pipe.
constexpr Milliseconds kRound{250};
constexpr std::uint64_t kLongestRebootMs = 60000;
constexpr std::uint64_t kMostHubs = 1024;  // far more than a controller has ports for

constexpr const char* kUsage = R"(Usage: velmora-usbip-hub [OPTIONS]

Plugs simulated Zelo Hubs into this machine's USB stack through the kernel's
virtual host controller (modprobe vhci-hcd first; needs root). Runs until it is
stopped with SIGTERM or SIGINT, then unplugs the hubs.

In its flash code each hub is a USB 3 hub: its SuperSpeed half (SSPID) and its
High-Speed half (HSPID), both hubs with four empty downstream ports, on the two
ports of one connector of the controller. In its ROM code it is one vendor-specific
device on the SuperSpeed port, with the SSPID. The high-speed scenario plugs each
hub into the High-Speed port alone, as a USB 2 connector would.

Options:
  --config FILE       the hubs take the identity of the first valid entry of FILE
                      (default: config.ini of the resource folder)
  --scenario NAME     how each hub starts (the names of velmora-cli --simulate that
                      are about one hub; default flash-code)
  --hubs N            how many hubs, each on a connector of its own (default 1; at
                      most as many as the controller has free connectors)
  --real-timing       the hubs take a real hub's flash timing (400 ms erase, 14 ms
                      per 4 KiB programmed, 3 ms per 4 KiB read); default: at once
  --reboot-ms N       how long a reset keeps a hub off the bus (default 1500)
  --control FIFO      read commands from the named pipe FIFO, one per line, and
                      print "ok COMMAND" or "error COMMAND: WHY" for each; a
                      command is for the first hub, or for hub N with "N " before it:
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
    std::size_t hubs = 1;
    bool realTiming = false;
    std::string control;
    std::string controller = usbip::kVhciControllerFolder;
    bool help = false;
    std::string error;
};

void takeValue(Options& options, const std::string& option, const std::string& value) {
    if (option == "--config") options.config = value;
    if (option == "--scenario") options.scenario = value;
    if (option == "--control") options.control = value;
    if (option == "--controller") options.controller = value;
    if (option == "--reboot-ms") {
        if (const auto number = wholeNumber(value, 0, kLongestRebootMs))
            options.rebootTime = Milliseconds(static_cast<long long>(*number));
        else
            options.error = "--reboot-ms takes a number of milliseconds up to 60000";
    }
    if (option == "--hubs") {
        if (const auto number = wholeNumber(value, 1, kMostHubs))
            options.hubs = static_cast<std::size_t>(*number);
        else
            options.error = "--hubs takes a number of hubs from 1";
    }
}

Options parseOptions(const std::vector<std::string>& words) {
    Options options;
    for (std::size_t i = 0; i < words.size() && options.error.empty(); ++i) {
        const std::string& word = words[i];
        if (word == "-h" || word == "--help") {
            options.help = true;
        } else if (word == "--real-timing") {
            options.realTiming = true;
        } else if (word != "--config" && word != "--scenario" && word != "--reboot-ms" &&
                   word != "--control" && word != "--controller" && word != "--hubs") {
            options.error = "unknown option " + word;
        } else if (i + 1 >= words.size()) {
            options.error = word + " needs a value";
        } else {
            takeValue(options, word, words[i + 1]);
            ++i;
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

// Lines from the control pipe. The pipe is opened for writing too, so that it
// never reads as ended between two writers.
class ControlPipe {
public:
    explicit ControlPipe(const std::string& path) {
        if (!path.empty()) descriptor_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    ~ControlPipe() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    bool failed(const std::string& path) const { return !path.empty() && descriptor_ < 0; }

    // Waits up to wait for a line; the lines that came, whole.
    std::vector<std::string> takeLines(Milliseconds wait) {
        pollfd ready{descriptor_, POLLIN, 0};
        ::poll(&ready, descriptor_ >= 0 ? 1 : 0, static_cast<int>(wait.count()));
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

// Each hub alone on a bus of its own: its scenario's, with the options applied.
struct SimulatedHubs {
    std::vector<std::unique_ptr<sim::SimulatedBus>> buses;
    std::vector<sim::SimulatedHub*> hubs;
};

bool makeHubs(const Options& options, const SupportedDevice& identity, Clock& clock, SimulatedHubs& made) {
    for (std::size_t index = 0; index < options.hubs; ++index) {
        auto bus = std::make_unique<sim::SimulatedBus>(clock);
        sim::applySimulationScenario(options.scenario, *bus, identity, options.rebootTime);
        const std::vector<sim::SimulatedHub*> hubs = bus->hubs();
        if (hubs.size() != 1) return false;
        if (options.realTiming) hubs.front()->setFlashTiming(sim::kRealisticFlashTiming);
        hubs.front()->setKeepRequests(false);
        made.hubs.push_back(hubs.front());
        made.buses.push_back(std::move(bus));
    }
    return true;
}

int serve(const Options& options) {
    SilentConsole console;
    const AppConfig config =
        initFromIni(options.config.value_or(resourceFolder() + "/" + kConfigFileName), console);
    const SupportedDevice identity = sim::simulatedHubIdentity(config.table);
    SystemClock clock;
    SimulatedHubs simulated;
    if (!makeHubs(options, identity, clock, simulated)) {
        std::cerr << "velmora-usbip-hub: scenario " << options.scenario << " is not about one hub\n";
        return kExitBadUsage;
    }
    usbip::SysfsHostController controller(options.controller);
    std::vector<usbip::PortPair> pairs;
    std::string error;
    if (!controller.freePairs(pairs, error)) {
        std::cerr << "velmora-usbip-hub: " << error << '\n';
        return kExitFailed;
    }
    if (pairs.size() < options.hubs) {
        std::cerr << "velmora-usbip-hub: " << options.hubs
                  << " hubs need as many free connectors; the controller has " << pairs.size() << '\n';
        return kExitBadUsage;
    }
    ControlPipe control(options.control);
    if (control.failed(options.control)) {
        std::cerr << "velmora-usbip-hub: cannot open the control pipe " << options.control << '\n';
        return kExitFailed;
    }
    signal(SIGTERM, requestStop);
    signal(SIGINT, requestStop);

    // A thread for each hub: a hub busy with a long request (an erase) holds up no other.
    usbip::ServerLog log(std::cerr);
    std::vector<std::unique_ptr<usbip::UsbipServer>> servers;
    for (std::size_t index = 0; index < simulated.hubs.size(); ++index) {
        servers.push_back(std::make_unique<usbip::UsbipServer>(
            *simulated.hubs[index], controller, pairs[index], log, "hub " + std::to_string(index + 1)));
    }
    std::atomic<bool> stopping{false};
    std::vector<std::thread> threads;
    for (auto& server : servers) {
        threads.emplace_back([&stopping, &server] {
            while (!stopping) server->serveFor(kRound);
            server->stop();
        });
    }
    while (stopRequested == 0) {
        for (const std::string& line : control.takeLines(kRound))
            std::cout << usbip::runControlCommand(line, simulated.hubs, identity) << std::endl;
    }
    stopping = true;
    for (std::thread& thread : threads) thread.join();
    for (const auto& server : servers)
        if (server->attachments() == 0) return kExitFailed;
    return 0;
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
