#include "tests/production/LineOfStations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "app/Console.h"
#include "device/simulated/HubFaults.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "environment/HubEnvironment.h"
#include "production/Station.h"
#include "production/StationSerials.h"
#include "tests/support/HubRig.h"
#include "tests/support/SerialSettingsFor.h"
#include "workflows/UnitSerial.h"

namespace velmora::testing {
namespace {

constexpr int kStations = 4;
constexpr int kHubs = 8;  // the eight-hubs scenario: ports 1-1 to 1-8
const std::string kFailingPort = "1-2";
const SerialFormat kFormat{"ZH", 6};
// Small, so that the stations go back to the counter for a block all through
// their runs, each other's takings in between.
constexpr std::uint64_t kBlock = 2;
const std::string kImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";

std::string portOf(int hub) {
    std::string port = "1-";
    port += std::to_string(hub);
    return port;
}

// One station put together as `velmora-cli --simulate=eight-hubs --history H
// --station-name N station IMAGE --serial-prefix ZH --serial-digits 6` puts it
// together: the core from the composition root, the image admitted by its rules,
// the serial numbers from the history it opens.
class LineStation {
public:
    bool open(const std::string& history, const std::string& name, std::string& error) {
        EnvironmentOptions options;
        options.simulate = true;
        options.scenario = "eight-hubs";
        options.clock = ClockChoice::Virtual;
        options.historyPath = history;
        options.stationName = name;
        options.keepBackups = false;
        options.onHistoryProblem = [this](const std::string& problem) {
            std::lock_guard lock(mutex_);
            problems_.push_back(problem);
        };
        environment_ = HubEnvironment::prepare(std::move(options), std::make_unique<SilentConsole>(), error);
        AppConfig config;
        config.table.set(0, kShippedHubIdentity.vid, kShippedHubIdentity.sspid, kShippedHubIdentity.hspid);
        if (!environment_ || !environment_->useConfig(std::move(config), error)) return false;
        ImageAdmission admission = environment_->admitImage(kImage, ImageUse::Update);
        if (!admission.admitted()) {
            error = admission.reason;
            return false;
        }
        image_ = std::move(admission.image);
        if (!serialFitsImage(image_, kFormat.serialBytes())) {
            error = serialTooLong(image_, kFormat.serialBytes());
            return false;
        }
        bool serverAway = false;
        source_ = environment_->openSerialNumbers(error, serverAway);
        if (!source_) return false;
        serials_.emplace(*source_, serialSettings(kFormat.prefix, kFormat.digits, 1, kBlock, name));
        if (!serials_->begin(error)) return false;
        // One unit fails its verify: its number must end void.
        sim::HubFaults faults = hub(kFailingPort)->faults();
        faults.corruptReadAddress = 0x10;
        hub(kFailingPort)->setFaults(faults);
        return true;
    }

    void run() {
        StationContext context{environment_->clock(),
                               environment_->platform(),
                               environment_->config().table,
                               [this](const std::string& port) { return environment_->connectionTo(port); },
                               [](const std::string&) {},
                               environment_->recorder(),
                               nullptr,
                               environment_->backups(),
                               &*serials_};
        Station station(std::move(context), image_, kImage, {kHubs, std::nullopt});
        const std::atomic<int> interrupts{0};
        station.run(interrupts);
        station.waitForUnits();
    }

    bool end(std::string& error) { return serials_->end(error); }
    sim::SimulatedHub* hub(const std::string& port) { return environment_->simulation()->bus().hubAt(port); }
    std::vector<std::string> problems() {
        std::lock_guard lock(mutex_);
        return problems_;
    }

private:
    std::unique_ptr<HubEnvironment> environment_;
    FirmwareBuffer image_;
    std::unique_ptr<SerialNumberSource> source_;
    std::optional<StationSerials> serials_;  // before the source it uses goes
    std::mutex mutex_;
    std::vector<std::string> problems_;
};

}  // namespace

void expectFourStationsNeverGiveANumberTwice(const LineHistory& line) {
    std::vector<std::unique_ptr<LineStation>> stations;
    for (int index = 0; index < kStations; ++index) {
        stations.push_back(std::make_unique<LineStation>());
        std::string name = "line-";
        name += std::to_string(index);
        std::string error;
        ASSERT_TRUE(stations.back()->open(line.history, name, error)) << error;
    }
    // Each station on a thread of its own, in its own virtual time, as processes would.
    std::vector<std::thread> threads;
    for (auto& station : stations) threads.emplace_back([&station] { station->run(); });
    for (std::thread& thread : threads) thread.join();

    std::multiset<std::string> onHubs;
    for (auto& station : stations) {
        std::string error;
        EXPECT_TRUE(station->end(error)) << error;
        EXPECT_EQ(station->problems(), std::vector<std::string>{});
        for (int hub = 1; hub <= kHubs; ++hub) {
            if (portOf(hub) == kFailingPort) continue;
            const std::optional<std::string> serial = station->hub(portOf(hub))->serialNumber();
            ASSERT_TRUE(serial) << portOf(hub);
            onHubs.insert(*serial);
        }
    }
    // The stations end as their programs do: a server's rows get their last send.
    stations.clear();

    // One row per unit, each run once; a passed unit's hub reported its image's serial.
    const std::vector<history::HistoryRecord> runs = line.runs();
    EXPECT_EQ(runs.size(), static_cast<std::size_t>(kStations * kHubs));
    std::set<std::string> uuids;
    std::map<std::string, std::string> passedBy;  // serial -> station
    std::set<std::string> failedSerials;
    for (const history::HistoryRecord& run : runs) {
        EXPECT_TRUE(uuids.insert(run.runUuid).second) << run.runUuid;
        if (run.result == history::kResultSuccess) {
            EXPECT_TRUE(passedBy.emplace(run.imageSerial, run.station).second) << run.imageSerial;
            EXPECT_EQ(run.hubSerial, run.imageSerial);
        } else {
            EXPECT_EQ(run.result, history::kResultFailure) << run.port;
            EXPECT_EQ(run.port, kFailingPort);
            failedSerials.insert(run.imageSerial);
        }
    }
    EXPECT_EQ(passedBy.size(), static_cast<std::size_t>(kStations * (kHubs - 1)));
    EXPECT_EQ(failedSerials.size(), static_cast<std::size_t>(kStations));
    // The numbers on the hubs are the history's, each on one hub.
    std::vector<std::string> passed;
    for (const auto& [serial, station] : passedBy) passed.push_back(serial);
    EXPECT_EQ(std::vector<std::string>(onHubs.begin(), onHubs.end()), passed);

    // Every number taken is accounted for: one run from the start with no gap,
    // used by a passed unit of the station that took it, or void.
    const std::vector<history::SerialNumberRow> numbers = line.numbers(kFormat.prefix);
    std::map<std::string, std::size_t> states;
    std::uint64_t expected = 1;
    for (const history::SerialNumberRow& row : numbers) {
        EXPECT_EQ(row.number, expected++);
        ++states[row.state];
        const std::string serial = kFormat.serialOf(row.number);
        if (row.state == "used") {
            ASSERT_EQ(passedBy.count(serial), 1u) << serial;
            EXPECT_EQ(passedBy.at(serial), row.station) << serial;
        } else {
            EXPECT_EQ(row.state, "void") << serial;
            EXPECT_EQ(passedBy.count(serial), 0u) << serial;
        }
        if (failedSerials.count(serial) == 1) {
            EXPECT_EQ(row.state, "void") << serial;
        }
    }
    EXPECT_EQ(states["used"], passedBy.size());
    EXPECT_GE(states["void"], failedSerials.size());
}

}  // namespace velmora::testing
