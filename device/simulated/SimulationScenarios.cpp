#include "device/simulated/SimulationScenarios.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>
#include <string>

#include "device/simulated/SampleImage.h"

namespace velmora::sim {

namespace {

constexpr std::uint16_t kMouseVendorId = 0x0B05;
constexpr std::uint16_t kMouseProductId = 0x1A01;
constexpr std::uint32_t kCorruptedAddress = 0x1001;
constexpr int kAlwaysFailing = 3;  // as many as the flash operations ever try
constexpr int kDisconnectOnWrite = 3;
constexpr int kEightHubs = 8;
// The hub of the "one failing" scenarios whose flash reads back wrong.
constexpr int kFailingOfEight = 5;
constexpr std::size_t kFailingOfSixtyFour = 18;
// A host with 64 hubs under test: each USB 3 hub takes two device slots of its
// controller (its SuperSpeed and High-Speed halves), and a controller offers 32
// or 64, so four controllers (buses) carry 16 each, through a hub on root port 2
// and the four hubs behind it: ports B-2.P.Q.
constexpr int kSixtyFourHubBuses = 4;
constexpr int kFanOut = 4;
constexpr int kRootPort = 2;

struct Setup {
    SimulatedBus& bus;
    const SupportedDevice& identity;
    Milliseconds rebootTime;

    SimulatedHub& hub(std::string_view port = kFirstHubPort, bool withImage = true, bool superSpeed = true,
                      FlashTiming flashTiming = {}) {
        SimulatedHubConfig config;
        config.flashTiming = flashTiming;
        config.enumeratesAsSuperSpeed = superSpeed;
        config.vendorId = identity.vid;
        config.superSpeedProductId = identity.sspid;
        config.highSpeedProductId = identity.hspid;
        config.portPath = std::string(port);
        config.rebootTime = rebootTime;
        SimulatedHub& added = bus.addHub(config);
        if (withImage) {
            SampleImageLayout layout;
            layout.vendorId = identity.vid;
            layout.superSpeedProductId = identity.sspid;
            layout.highSpeedProductId = identity.hspid;
            layout.version = kSampleImageVersion;
            added.loadFlashImage(makeSampleImage(layout));
        }
        return added;
    }
    void fail(SimulatedHub& target, RequestKind kind, int count, Outcome outcome = Outcome::Stalled) {
        HubFaults faults = target.faults();
        faults.failures.push_back({kind, count, outcome});
        target.setFaults(faults);
    }
};

struct ScenarioEntry {
    SimulationScenario about;
    std::function<void(Setup&)> build;
};

HubFaults with(const SimulatedHub& hub, const std::function<void(HubFaults&)>& change) {
    HubFaults faults = hub.faults();
    change(faults);
    return faults;
}

// Every read of the flash brings one byte back inverted: each update fails its compare.
void corruptReadBack(SimulatedHub& hub) {
    hub.setFaults(with(hub, [](HubFaults& f) { f.corruptReadAddress = kCorruptedAddress; }));
}

}  // namespace

std::vector<std::string> sixtyFourHubPorts() {
    std::vector<std::string> ports;
    for (int bus = 1; bus <= kSixtyFourHubBuses; ++bus)
        for (int hub = 1; hub <= kFanOut; ++hub)
            for (int port = 1; port <= kFanOut; ++port)
                ports.push_back(std::to_string(bus) + "-" + std::to_string(kRootPort) + "." +
                                std::to_string(hub) + "." + std::to_string(port));
    return ports;
}

namespace {

const std::vector<ScenarioEntry>& scenarioEntries() {
    static const std::vector<ScenarioEntry> entries = {
        {{"flash-code", "one hub running its flash code with a valid image (the default)"},
         [](Setup& s) { s.hub(); }},
        {{"rom-code", "one hub in ROM code with an erased flash"},
         [](Setup& s) { s.hub(kFirstHubPort, false); }},
        {{"fast-wait", "one hub in flash code whose status asks for 1 s polls after a reset"},
         [](Setup& s) { s.hub().setWaitSelector(1); }},
        {{"high-speed", "one hub in flash code that enumerates with its High-Speed product ID"},
         [](Setup& s) { s.hub(kFirstHubPort, true, false); }},
        {{"no-hub", "no supported hub, only a mouse"},
         [](Setup& s) { s.bus.addPlainDevice(kMouseVendorId, kMouseProductId, std::string(kMousePort)); }},
        {{"with-mouse", "a mouse listed first, then one hub in flash code"},
         [](Setup& s) {
             s.bus.addPlainDevice(kMouseVendorId, kMouseProductId, std::string(kMousePort));
             s.hub();
         }},
        {{"two-hubs", "two hubs in flash code on ports 1-1 and 1-2"},
         [](Setup& s) {
             s.hub(kFirstHubPort);
             s.hub(kSecondHubPort);
         }},
        {{"eight-hubs", "eight hubs in flash code on ports 1-1 to 1-8, with a real hub's flash timing"},
         [](Setup& s) {
             for (int port = 1; port <= kEightHubs; ++port)
                 s.hub("1-" + std::to_string(port), true, true, kRealisticFlashTiming);
         }},
        {{"sixty-four-hubs",
          "64 hubs in flash code on four buses behind hubs (ports 1-2.1.1 to 4-2.4.4), with a real hub's "
          "flash timing"},
         [](Setup& s) {
             for (const std::string& port : sixtyFourHubPorts())
                 s.hub(port, true, true, kRealisticFlashTiming);
         }},
        {{"eight-hubs-one-failing",
          "eight-hubs, but the hub on 1-5 reads one flash byte (0x1001) back inverted"},
         [](Setup& s) {
             for (int port = 1; port <= kEightHubs; ++port) {
                 SimulatedHub& hub = s.hub("1-" + std::to_string(port), true, true, kRealisticFlashTiming);
                 if (port == kFailingOfEight) corruptReadBack(hub);
             }
         }},
        {{"sixty-four-hubs-one-failing",
          "sixty-four-hubs, but the 19th hub (2-2.1.3) reads one flash byte (0x1001) back inverted"},
         [](Setup& s) {
             const std::vector<std::string> ports = sixtyFourHubPorts();
             for (std::size_t index = 0; index < ports.size(); ++index) {
                 SimulatedHub& hub = s.hub(ports[index], true, true, kRealisticFlashTiming);
                 if (index == kFailingOfSixtyFour) corruptReadBack(hub);
             }
         }},
        {{"busy", "one hub held by another driver: found, but every open is refused"},
         [](Setup& s) {
             SimulatedHub& hub = s.hub();
             hub.setFaults(with(hub, [](HubFaults& f) { f.heldByAnotherDriver = true; }));
         }},
        {{"stall-erase", "every erase request stalls"},
         [](Setup& s) { s.fail(s.hub(), RequestKind::EraseFlash, 1000); }},
        {{"stall-write", "every program request stalls"},
         [](Setup& s) { s.fail(s.hub(), RequestKind::WriteFlash, 1000); }},
        {{"flaky-erase", "the first two erase requests stall, the third succeeds"},
         [](Setup& s) { s.fail(s.hub(), RequestKind::EraseFlash, kAlwaysFailing - 1); }},
        {{"stall-reset", "every reset request stalls"},
         [](Setup& s) {
             SimulatedHub& hub = s.hub();
             s.fail(hub, RequestKind::ResetToRomCode, 1000);
             s.fail(hub, RequestKind::ResetToFlashCode, 1000);
         }},
        {{"timeout-read", "the first flash read times out"},
         [](Setup& s) { s.fail(s.hub(), RequestKind::ReadFlash, 1, Outcome::TimedOut); }},
        {{"short-read", "the first flash read brings only half of its bytes"},
         [](Setup& s) {
             SimulatedHub& hub = s.hub();
             hub.setFaults(with(hub, [](HubFaults& f) {
                 f.shortAnswers.push_back({RequestKind::ReadFlash, 1});
             }));
         }},
        {{"stall-status", "every status read stalls"},
         [](Setup& s) { s.fail(s.hub(), RequestKind::ReadStatus, 1000); }},
        {{"never-returns", "the hub never comes back after a reset"},
         [](Setup& s) {
             SimulatedHub& hub = s.hub();
             hub.setFaults(with(hub, [](HubFaults& f) { f.neverReturnsAfterReset = true; }));
         }},
        {{"wrong-code", "after a reset the hub comes back in the other code than asked for"},
         [](Setup& s) {
             SimulatedHub& hub = s.hub();
             hub.setFaults(with(hub, [](HubFaults& f) { f.returnsInWrongCode = true; }));
         }},
        {{"corrupt-readback", "one flash byte (address 0x1001) reads back inverted"},
         [](Setup& s) { corruptReadBack(s.hub()); }},
        {{"disconnect", "the hub drops off the bus during the third write and comes back in ROM code"},
         [](Setup& s) {
             SimulatedHub& hub = s.hub();
             hub.setFaults(with(hub, [](HubFaults& f) {
                 f.disconnect = DisconnectFault{RequestKind::WriteFlash, kDisconnectOnWrite, true};
             }));
         }},
    };
    return entries;
}

constexpr std::string_view kPowerCutPrefix = "power-cut-after:";
constexpr int kMostFlashRequests = 100000;

// power-cut-after:N: N from 1, the erase and program requests the hub answers
// before its power goes.
std::optional<int> powerCutCount(std::string_view name) {
    if (!name.starts_with(kPowerCutPrefix)) return std::nullopt;
    const std::string_view digits = name.substr(kPowerCutPrefix.size());
    int count = 0;
    const auto [end, problem] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (problem != std::errc{} || end != digits.data() + digits.size() || count < 1 ||
        count > kMostFlashRequests)
        return std::nullopt;
    return count;
}

}  // namespace

const std::vector<SimulationScenario>& simulationScenarios() {
    static const std::vector<SimulationScenario> list = [] {
        std::vector<SimulationScenario> result;
        for (const ScenarioEntry& entry : scenarioEntries()) result.push_back(entry.about);
        return result;
    }();
    return list;
}

bool isSimulationScenario(std::string_view name) {
    if (powerCutCount(name)) return true;
    for (const SimulationScenario& scenario : simulationScenarios())
        if (scenario.name == name) return true;
    return false;
}

std::string simulationScenarioHelp() {
    constexpr std::string_view kPowerCut = "power-cut-after:N";
    std::vector<SimulationScenario> listed = simulationScenarios();
    listed.push_back(
        {kPowerCut, "one hub in flash code, its power cut after its Nth erase or program request"});
    std::size_t width = 0;
    for (const SimulationScenario& scenario : listed) width = std::max(width, scenario.name.size());
    std::string text;
    for (const SimulationScenario& scenario : listed) {
        text += "  ";
        text += scenario.name;
        text.append(width - scenario.name.size() + 2, ' ');
        text += scenario.description;
        text += '\n';
    }
    return text;
}

bool applySimulationScenario(std::string_view name, SimulatedBus& bus, const SupportedDevice& identity,
                             Milliseconds rebootTime) {
    if (const std::optional<int> count = powerCutCount(name)) {
        Setup setup{bus, identity, rebootTime};
        SimulatedHub& hub = setup.hub();
        hub.setFaults(with(hub, [count](HubFaults& f) { f.powerCutAfterFlashRequest = *count; }));
        return true;
    }
    for (const ScenarioEntry& entry : scenarioEntries()) {
        if (entry.about.name != name) continue;
        Setup setup{bus, identity, rebootTime};
        entry.build(setup);
        return true;
    }
    return false;
}

}  // namespace velmora::sim
