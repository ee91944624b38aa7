// The production station on simulated hubs in virtual time, with an operator
// thread that plugs and unplugs hubs and presses Ctrl-C: a unit is never updated
// twice while it stays plugged in, a replugged one is updated again, units
// arriving one after another run alongside the earlier ones, and --count,
// --expect-version and the two interrupts end the station as they should; units
// writing at once share the process's one logind lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/FirmwareBuffer.h"
#include "host/HostHold.h"
#include "production/Station.h"
#include "tests/support/HubRig.h"
#include "tests/support/LogindStandIn.h"
#include "workflows/RunObserver.h"

namespace velmora::testing {
namespace {

// The history's view of the runs: how each ended, as it was recorded.
class RecordedEnds final : public RunObserver {
public:
    std::unique_ptr<RunLog> runStarted(const RunStart&) override { return std::make_unique<Log>(*this); }
    std::vector<RunEnd> ends() {
        std::lock_guard lock(mutex_);
        return ends_;
    }

private:
    class Log final : public RunLog {
    public:
        explicit Log(RecordedEnds& owner) : owner_(owner) {}
        void phaseStarted(RunPhase) override {}
        void hubSeen(const HubConnection::HubSighting&) override {}
        void ended(const RunEnd& end) override {
            std::lock_guard lock(owner_.mutex_);
            owner_.ends_.push_back(end);
        }

    private:
        RecordedEnds& owner_;
    };
    std::mutex mutex_;
    std::vector<RunEnd> ends_;
};

constexpr std::uint16_t kOldVersion = 0x0102;
constexpr std::uint16_t kNewVersion = 0x0203;

class StationTest : public ::testing::Test {
protected:
    StationTest() {
        const std::vector<std::uint8_t> bytes = hubs_.sampleImage(8192, kNewVersion);
        FW_Parse(image_, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }

    // Hubs on ports 1-1 ... 1-count; the first `plugged` of them on the bus at the start.
    void addHubs(int count, int plugged) {
        for (int index = 1; index <= count; ++index) {
            RigHubOptions options;
            options.portPath = port(index);
            options.imageVersion = kOldVersion;
            hubs_.addHub(options);
            if (index > plugged) hubs_.bus.unplug(port(index));
        }
    }
    static std::string port(int index) { return "1-" + std::to_string(index); }

    // Runs the station and, beside it, the operator, both as workers of the clock.
    StationEnd runStation(StationSettings settings, const std::function<void()>& operatorActions) {
        StationContext context{hubs_.clock,
                               platform_,
                               hubs_.table,
                               [this](const std::string& at) {
                                   auto connection = std::make_unique<HubConnection>(platform_, hubs_.table,
                                                                                     hubs_.clock, at);
                                   connection->setFlashSpanHost(spanHost_);
                                   return connection;
                               },
                               [this](const std::string& line) {
                                   std::lock_guard lock(linesMutex_);
                                   lines_.push_back(line);
                               },
                               &history_};
        Station station(std::move(context), image_, "/images/new.bin", settings);
        StationEnd end = StationEnd::Finished;
        hubs_.clock.addWorkers(1);
        std::thread operatorThread([&] {
            hubs_.clock.enterWorker();
            // The operator starts once the station is on the clock (its first line
            // comes after that), so no virtual time passes before the station looks.
            while (lines().empty()) std::this_thread::yield();
            operatorActions();
            hubs_.clock.leaveWorker();
        });
        end = station.run(interrupts_);
        station.waitForUnits();
        operatorThread.join();
        exitStatus_ = station.units().exitStatus();
        return end;
    }

    std::vector<std::string> lines() {
        std::lock_guard lock(linesMutex_);
        return lines_;
    }
    int countLines(const std::string& start) {
        const std::vector<std::string> all = lines();
        return static_cast<int>(std::count_if(
            all.begin(), all.end(), [&start](const std::string& line) { return line.rfind(start, 0) == 0; }));
    }
    // The operator watches the screen: sleeps until a line starting so has shown this often.
    void waitForLines(const std::string& start, int count) {
        for (int look = 0; look < 1000 && countLines(start) < count; ++look)
            hubs_.clock.sleepFor(kStationLookInterval);
    }
    void sleep(Milliseconds duration) { hubs_.clock.sleepFor(duration); }

    SimulatedHubs hubs_;
    sim::SimulatedUsbPlatform platform_{hubs_.bus};
    FirmwareBuffer image_;
    std::atomic<int> interrupts_{0};
    std::mutex linesMutex_;
    std::vector<std::string> lines_;
    RecordedEnds history_;
    FlashSpanHost* spanHost_ = nullptr;  // what every unit's connection holds its span on
    int exitStatus_ = -1;
};

TEST_F(StationTest, UpdatesAUnitOnceWhilePluggedAndAgainWhenReplugged) {
    addHubs(1, 1);
    runStation({}, [this] {
        waitForLines("1-1: PASS", 1);
        sleep(Milliseconds(20000));  // the finished unit stays plugged in
        EXPECT_EQ(countLines("1-1: "), 1);
        hubs_.bus.unplug("1-1");
        sleep(Milliseconds(1000));
        hubs_.bus.plugIn("1-1");
        waitForLines("1-1: PASS", 2);
        interrupts_ = 1;
    });
    EXPECT_EQ(countLines("1-1: PASS 0102 -> 0203"), 1);
    EXPECT_EQ(countLines("1-1: PASS 0203 -> 0203"), 1);
    EXPECT_EQ(countLines("Stopping: no unit in progress"), 1);
    EXPECT_EQ(lines().back(), "Stopping: no unit in progress\n");
    EXPECT_EQ(exitStatus_, 0);
}

TEST_F(StationTest, EightUnitsArrivingWhileEarlierOnesRun) {
    addHubs(8, 0);
    runStation({8, std::nullopt}, [this] {
        for (int index = 1; index <= 8; ++index) {
            hubs_.bus.plugIn(port(index));
            sleep(Milliseconds(1000));
        }
    });
    for (int index = 1; index <= 8; ++index) {
        EXPECT_EQ(countLines(port(index) + ": PASS 0102 -> 0203"), 1) << index;
        EXPECT_EQ(hubs_.bus.hubAt(port(index))->imageVersion(), kNewVersion);
    }
    // Later units started while earlier ones still ran.
    const std::vector<std::string> all = lines();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const std::string& line) {
        return line.find("in progress 3") != std::string::npos;
    }));
    EXPECT_EQ(all.back(), "passed 8, failed 0, in progress 0\n");
    EXPECT_EQ(exitStatus_, 0);
}

TEST_F(StationTest, CountAndExpectedVersionDecideTheEnd) {
    addHubs(3, 3);
    const StationEnd end = runStation({2, std::uint16_t{0x0999}}, [] {});
    EXPECT_EQ(end, StationEnd::Finished);
    EXPECT_EQ(countLines("1-1: FAIL runs version 0203, not the expected 0999"), 1);
    EXPECT_EQ(countLines("1-2: FAIL runs version 0203, not the expected 0999"), 1);
    EXPECT_EQ(countLines("1-3: "), 0);  // --count 2: the third unit is never started
    EXPECT_EQ(hubs_.bus.hubAt("1-3")->imageVersion(), kOldVersion);
    EXPECT_EQ(exitStatus_, 1);
    // The history records the two units as the station judged them: failed, and why.
    const std::vector<RunEnd> ends = history_.ends();
    ASSERT_EQ(ends.size(), 2u);
    for (const RunEnd& recorded : ends) {
        EXPECT_FALSE(recorded.succeeded);
        EXPECT_EQ(recorded.failure, "runs version 0203, not the expected 0999");
    }
}

// Every tally line counts only units whose verdict line is already out.
TEST_F(StationTest, NoTallyCountsAUnitBeforeItsVerdictLine) {
    addHubs(4, 4);
    runStation({4, std::nullopt}, [] {});
    int verdicts = 0;
    for (const std::string& line : lines()) {
        if (line.find(": PASS") != std::string::npos || line.find(": FAIL") != std::string::npos) ++verdicts;
        int passed = 0;
        int failed = 0;
        if (std::sscanf(line.c_str(), "passed %d, failed %d", &passed, &failed) == 2) {
            EXPECT_LE(passed + failed, verdicts) << line;
        }
    }
    EXPECT_EQ(verdicts, 4);
}

// Counts the units inside their spans and the locks logind holds when one goes
// in or out; the process's hold holds the spans.
class LockCount final : public FlashSpanHost {
public:
    LockCount(host::HostHold& hold, LogindStandIn& logind) : hold_(hold), logind_(logind) {}
    bool enterSpan(const std::string& portPath) override {
        if (!hold_.enterSpan(portPath)) return false;
        note(+1);
        return true;
    }
    void leaveSpan(const std::string& portPath) override {
        note(-1);
        hold_.leaveSpan(portPath);
    }
    std::vector<std::size_t> locks;  // one per entry and leave, as logind listed them
    int mostInside = 0;

private:
    void note(int step) {
        const std::size_t listed = logind_.inhibitors(1).size();
        std::lock_guard lock(mutex_);
        inside_ += step;
        mostInside = std::max(mostInside, inside_);
        locks.push_back(listed);
    }
    host::HostHold& hold_;
    LogindStandIn& logind_;
    std::mutex mutex_;
    int inside_ = 0;
};

// Units that write at once share one logind lock, held from the first span in to
// the last out.
TEST_F(StationTest, OneLockForTheStationWhileAnyUnitWrites) {
    LogindStandIn logind;
    if (!logind.usable()) GTEST_SKIP() << logind.problem();
    host::HostHoldSettings settings;
    settings.autosuspend = false;
    settings.bus.busAddress = logind.address();
    host::HostHold hold(std::move(settings));
    LockCount count(hold, logind);
    spanHost_ = &count;
    addHubs(4, 4);
    runStation({4, std::nullopt}, [] {});
    EXPECT_EQ(countLines("passed 4, failed 0, in progress 0"), 1);
    EXPECT_GT(count.mostInside, 1);
    EXPECT_EQ(count.locks, std::vector<std::size_t>(8, 1u));
    EXPECT_TRUE(logind.inhibitors(0).empty());
    EXPECT_FALSE(hold.insideSpan());
}

TEST_F(StationTest, FirstCtrlCLetsTheRunsFinishAndTakesNoNewUnit) {
    addHubs(3, 2);
    runStation({}, [this] {
        sleep(Milliseconds(100));
        interrupts_ = 1;
        sleep(Milliseconds(500));
        hubs_.bus.plugIn("1-3");
    });
    EXPECT_EQ(countLines("Stopping: no new units; waiting for 1-1, 1-2 to finish"), 1);
    EXPECT_EQ(countLines("1-1: PASS"), 1);
    EXPECT_EQ(countLines("1-2: PASS"), 1);
    EXPECT_EQ(countLines("1-3: "), 0);
    EXPECT_EQ(exitStatus_, 0);
}

TEST_F(StationTest, SecondCtrlCAbandonsTheRunsAndNamesTheirHubs) {
    addHubs(2, 2);
    const StationEnd end = runStation({}, [this] {
        sleep(Milliseconds(100));
        interrupts_ = 1;
        sleep(Milliseconds(500));
        interrupts_ = 2;
    });
    EXPECT_EQ(end, StationEnd::Abandoned);
    EXPECT_EQ(countLines("Abandoned 1-1, 1-2: these hubs may be left in ROM code"), 1);
    EXPECT_EQ(exitStatus_, 1);
}

}  // namespace
}  // namespace velmora::testing
