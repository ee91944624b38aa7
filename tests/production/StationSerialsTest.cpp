// Stations giving every unit a serial number of its own from one SQLite history,
// on simulated hubs in virtual time: four stations at once never give a number
// twice and account for every number (used by a passed unit, void otherwise),
// the hubs report the numbers the history holds (the same checks run on a
// PostgreSQL server in StationLinePostgresTest), and a history that goes away
// lets a station go on within its block and then stop taking units.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/FirmwareBuffer.h"
#include "history/HistoryDatabase.h"
#include "history/RunRecorder.h"
#include "history/SerialCounter.h"
#include "production/Station.h"
#include "production/StationSerials.h"
#include "tests/production/LineOfStations.h"
#include "tests/support/HubRig.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialSettingsFor.h"

namespace velmora::testing {
namespace {

// The history's counter, which a test can take away as a server outage would.
class FlakySource final : public SerialNumberSource {
public:
    explicit FlakySource(SerialNumberSource& real) : real_(real) {}
    std::atomic<bool> away{false};
    std::function<void()> duringReserve;  // what happens while a block is reserved
    std::function<void()> duringMark;     // what happens while a number is marked

    bool beginStation(const std::string& station, std::string& error) override {
        return reachable(error) && real_.beginStation(station, error);
    }
    std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                            std::uint64_t start, std::uint64_t last, std::uint64_t count,
                                            std::string& error) override {
        if (duringReserve) duringReserve();
        if (!reachable(error)) return std::nullopt;
        return real_.reserveBlock(station, prefix, start, last, count, error);
    }
    bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state, const RunId& run,
                    std::string& error) override {
        if (duringMark) duringMark();
        return reachable(error) && real_.markNumber(prefix, number, state, run, error);
    }
    bool endStation(const std::string& station, std::string& error) override {
        return reachable(error) && real_.endStation(station, error);
    }

private:
    bool reachable(std::string& error) {
        if (away) error = "the server does not answer";
        return !away;
    }
    SerialNumberSource& real_;
};

// One station: its own bus of hubs on the shared clock, its own history recorder.
struct StationLine {
    StationLine(VirtualClock& clock, const SupportedDeviceTable& table, int hubs, const std::string& path)
        : bus(clock),
          platform(bus),
          recorder(path, FolderCreation::MustExist, clock, [](const std::string&) {}) {
        for (int index = 1; index <= hubs; ++index) {
            sim::SimulatedHubConfig config;
            config.vendorId = kShippedHubIdentity.vid;
            config.superSpeedProductId = kShippedHubIdentity.sspid;
            config.highSpeedProductId = kShippedHubIdentity.hspid;
            config.portPath = "1-" + std::to_string(index);
            bus.addHub(config).loadFlashImage(sampleImageFor(kShippedHubIdentity));
        }
        (void)table;
    }

    StationEnd run(VirtualClock& clock, const SupportedDeviceTable& table, const FirmwareBuffer& image,
                   StationSerials& serials, int count) {
        StationContext context{clock,
                               platform,
                               table,
                               [&](const std::string& port) {
                                   return std::make_unique<HubConnection>(platform, table, clock, port);
                               },
                               [this](const std::string& line) {
                                   std::lock_guard lock(mutex);
                                   lines.push_back(line);
                               },
                               &recorder,
                               nullptr,
                               nullptr,
                               &serials};
        context.unitIds = unitIds;
        Station station(std::move(context), image, "/images/line.bin", {count, std::nullopt});
        const StationEnd end = station.run(interrupts);
        station.waitForUnits();
        exitStatus = station.units().exitStatus();
        return end;
    }

    sim::SimulatedBus bus;
    sim::SimulatedUsbPlatform platform;
    RunRecorder recorder;
    std::atomic<int> interrupts{0};
    UnitIdQueue* unitIds = nullptr;
    std::mutex mutex;
    std::vector<std::string> lines;
    int exitStatus = -1;
};

class StationSerialsTest : public ::testing::Test {
protected:
    StationSerialsTest() {
        table_.set(0, kShippedHubIdentity.vid, kShippedHubIdentity.sspid, kShippedHubIdentity.hspid);
        const std::vector<std::uint8_t> bytes = sampleImageFor(kShippedHubIdentity, 8192, 0x0203);
        FW_Parse(image_, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
    std::unique_ptr<history::SerialCounter> counter(RunOrigin origin = RunOrigin::Real) {
        std::string error;
        auto opened = history::SerialCounter::open(path_, FolderCreation::MustExist, error, origin);
        EXPECT_TRUE(opened) << error;
        return opened;
    }
    std::vector<history::HistoryRecord> runs() {
        std::string error;
        auto database = history::HistoryDatabase::open(path_, error);
        EXPECT_TRUE(database) << error;
        return database->list({}, error).value_or(std::vector<history::HistoryRecord>{});
    }

    ScratchFolder scratch_{"velmora-station-serials"};
    std::string path_ = scratch_.path("history.sqlite");
    VirtualClock clock_;
    SupportedDeviceTable table_;
    FirmwareBuffer image_;
};

TEST_F(StationSerialsTest, FourStationsOnOneHistoryNeverGiveANumberTwice) {
    expectFourStationsNeverGiveANumberTwice(
        {path_, [this] { return runs(); },
         [this](const std::string& prefix) {
             std::string error;
             // the line's stations run on simulated hubs
             auto numbers = counter(RunOrigin::Simulated)->numbers(prefix, error);
             EXPECT_TRUE(numbers) << error;
             return numbers.value_or(std::vector<history::SerialNumberRow>{});
         }});
}

TEST_F(StationSerialsTest, AnOutageIsRiddenOutWithinTheBlockThenTheStationStops) {
    auto real = counter();
    FlakySource source(*real);
    StationSerials serials(source, serialSettings("ZH", 6, 1, 3, "line-a"));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    source.away = true;  // gone after the first block was taken
    StationLine line(clock_, table_, 5, path_);
    const StationEnd end = line.run(clock_, table_, image_, serials, 5);
    EXPECT_EQ(end, StationEnd::Finished);
    int passed = 0;
    int stopLines = 0;
    int notClosed = 0;  // said on the station's own output, not only in the log
    for (const std::string& text : line.lines) {
        passed += text.find(": PASS ") != std::string::npos;
        notClosed +=
            text.rfind("Station: serial numbers not closed: ", 0) == 0 &&
            text.find("marks could not be written (the server does not answer)") != std::string::npos;
        stopLines += text ==
                     "Station: this station's block of serial numbers is used up and the history cannot give "
                     "more (the server does not answer); no new units\n";
    }
    EXPECT_EQ(passed, 3);
    EXPECT_EQ(stopLines, 1);
    EXPECT_EQ(notClosed, 1);
    EXPECT_EQ(line.exitStatus, 1);
    // The marks it could not write wait; once the server is back they are written.
    source.away = false;
    ASSERT_TRUE(serials.end(error)) << error;
    const auto numbers = real->numbers("ZH", error);
    ASSERT_TRUE(numbers) << error;
    ASSERT_EQ(numbers->size(), 3u);
    for (const history::SerialNumberRow& row : *numbers) EXPECT_EQ(row.state, "used") << row.number;
}

// The operator's Ctrl-C comes while the history is slow to give the next block
// (here: during the call): the units seen before it and not yet started are not
// started, the runs of the first block finish, and nothing is abandoned.
TEST_F(StationSerialsTest, ACtrlCWhileTheNextBlockIsSlowStartsNoFurtherUnit) {
    auto real = counter();
    FlakySource source(*real);
    StationLine line(clock_, table_, 5, path_);
    source.duringReserve = [&line, calls = 0]() mutable {
        if (++calls == 2) ++line.interrupts;  // the second block's reservation
    };
    StationSerials serials(source, serialSettings("ZH", 6, 1, 3, "line-c"));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    EXPECT_EQ(line.run(clock_, table_, image_, serials, 5), StationEnd::Finished);
    int passed = 0;
    for (const std::string& text : line.lines) {
        passed += text.find(": PASS ") != std::string::npos;
        EXPECT_EQ(text.find("ROM code"), std::string::npos) << text;
    }
    EXPECT_EQ(passed, 3);
    ASSERT_TRUE(serials.end(error)) << error;
    int used = 0;
    for (const history::SerialNumberRow& row :
         real->numbers("ZH", error).value_or(std::vector<history::SerialNumberRow>{})) {
        used += row.state == "used";
        EXPECT_TRUE(row.state == "used" || row.state == "void") << row.number << row.state;
    }
    EXPECT_EQ(used, 3);
}

TEST_F(StationSerialsTest, ACounterUsedUpRefusesTheStationBeforeItsFirstUnit) {
    auto real = counter();
    StationSerials first(*real, serialSettings("ZH", 1, 9, 20, "line-a"));
    std::string error;
    ASSERT_TRUE(first.begin(error)) << error;
    EXPECT_EQ(first.take().serial, "ZH9");
    const SerialTake none = first.take();
    EXPECT_FALSE(none.number);
    EXPECT_EQ(none.stopLine,
              "Station: the serial numbers of prefix 'ZH' are used up (the last is ZH9); no new units\n");
    ASSERT_TRUE(first.end(error)) << error;
    StationSerials again(*real, serialSettings("ZH", 1, 1, 20, "line-a"));
    EXPECT_FALSE(again.begin(error));
    EXPECT_EQ(error, "the serial numbers of prefix 'ZH' are used up: the last, ZH9, has been given");
}

// The backend met off the units' path: with every mark stalled (a frozen
// server) until all five units have passed, the units take their numbers and
// pass; the marks are written, each number used, once it answers.
TEST_F(StationSerialsTest, UnitsPassWhileTheBackendTakesNoMarkAndTheMarksFollow) {
    auto real = counter();
    FlakySource source(*real);
    StationLine line(clock_, table_, 5, path_);
    std::atomic<bool> allPassedFirst{false};
    source.duringMark = [&, once = std::make_shared<std::once_flag>()] {
        std::call_once(*once, [&] {
            for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                 std::chrono::steady_clock::now() < guard;
                 std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                std::lock_guard lock(line.mutex);
                int passed = 0;
                for (const std::string& text : line.lines)
                    passed += text.find(": PASS ") != std::string::npos;
                if (passed == 5) {
                    allPassedFirst = true;
                    return;
                }
            }
        });
    };
    StationSerials serials(source, serialSettings("ZH", 6, 1, 8, "line-m"));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    EXPECT_EQ(line.run(clock_, table_, image_, serials, 5), StationEnd::Finished);
    EXPECT_EQ(line.exitStatus, 0);
    EXPECT_TRUE(allPassedFirst);  // not one mark was taken before every unit had passed
    ASSERT_TRUE(serials.end(error)) << error;
    int used = 0;
    for (const history::SerialNumberRow& row :
         real->numbers("ZH", error).value_or(std::vector<history::SerialNumberRow>{}))
        used += row.state == "used";
    EXPECT_EQ(used, 5);
}

// The next block is reserved while the one held still has a quarter left, with
// no unit asking: an outage at a block's end then costs no unit.
TEST_F(StationSerialsTest, TheNextBlockComesWhileAQuarterIsLeft) {
    auto real = counter();
    StationSerials serials(*real, serialSettings("ZH", 6, 1, 4, "line-q"));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    for (int unit = 0; unit < 3; ++unit) ASSERT_TRUE(serials.take().number);
    for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         serials.left() <= 1 && std::chrono::steady_clock::now() < guard;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(serials.left(), 5u);
    ASSERT_TRUE(serials.end(error)) << error;
}

// A reservation the backend holds (a frozen server) holds no unit while the
// block in hand still has numbers: the last of it is taken meanwhile.
TEST_F(StationSerialsTest, AStalledReservationHoldsNoUnitWhileTheBlockHasNumbers) {
    auto real = counter();
    FlakySource source(*real);
    std::promise<void> released;
    std::shared_future<void> release = released.get_future().share();
    std::atomic<int> reservations{0};
    source.duringReserve = [&] {
        if (++reservations == 2) release.wait();
    };
    StationSerials serials(source, serialSettings("ZH", 6, 1, 4, "line-f"));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    for (int unit = 0; unit < 3; ++unit) ASSERT_TRUE(serials.take().number);
    while (reservations < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::atomic<bool> taken{false};
    auto taking = std::async(std::launch::async, [&] {
        SerialTake take = serials.take();
        taken = true;
        return take;
    });
    for (const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !taken && std::chrono::steady_clock::now() < guard;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool tookWhileStalled = taken;
    released.set_value();
    EXPECT_TRUE(tookWhileStalled);
    EXPECT_EQ(taking.get().serial, "ZH000004");
    ASSERT_TRUE(serials.end(error)) << error;
}

// A unit's scanned ID, asked for as it starts, is on its run's row with its
// serial number; a unit given none has none.
TEST_F(StationSerialsTest, EachUnitsScannedIdIsOnItsRow) {
    auto real = counter();
    StationSerials serials(*real, serialSettings("ZH", 6, 1, 8, "line-u"));
    std::string error;
    ASSERT_TRUE(serials.begin(error)) << error;
    StationLine line(clock_, table_, 3, path_);
    UnitIdQueue scanned;
    ASSERT_TRUE(scanned.scan("LBL-1-1", "1-1").taken);
    ASSERT_TRUE(scanned.scan("LBL-1-2", "1-2").taken);
    line.unitIds = &scanned;
    EXPECT_EQ(line.run(clock_, table_, image_, serials, 3), StationEnd::Finished);
    ASSERT_TRUE(serials.end(error)) << error;
    std::map<std::string, std::string> idByPort;
    for (const history::HistoryRecord& row : runs()) idByPort[row.port] = row.unitId.value_or("none");
    EXPECT_EQ(idByPort,
              (std::map<std::string, std::string>{{"1-1", "LBL-1-1"}, {"1-2", "LBL-1-2"}, {"1-3", "none"}}));
}

}  // namespace
}  // namespace velmora::testing
