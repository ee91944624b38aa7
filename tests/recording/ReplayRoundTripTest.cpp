// Record a run over the simulated hub, replay it with no hub at all: the same
// outcome, the same pane and the same requests, for every simulated scenario; and a
// replay that is asked for something else says at which exchange.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "device/recording/ReplayPlatform.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "production/HubFleet.h"
#include "tests/recording/ReplayRun.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::recording {
namespace {

class ScenarioRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioRoundTrip, TheReplayShowsWhatTheRecordedRunShowed) {
    testing::ScratchFolder folder;
    const std::string path = folder.path("run.jsonl");
    const FirmwareBuffer image = sampleBuffer();
    const RunOutcome recorded = recordUpdate(GetParam(), path, image);

    VirtualClock clock;
    ReplayPlatform replay(load(path), clock);
    const RunOutcome replayed = runUpdate(replay, clock, image);

    EXPECT_EQ(replay.divergence(), std::nullopt);
    EXPECT_EQ(replay.unplayed(), 0u);
    EXPECT_EQ(replayed.succeeded, recorded.succeeded);
    EXPECT_EQ(replayed.events, recorded.events);
    EXPECT_EQ(replayed.trace, recorded.trace);
    // The waits took as long as they did: timings replay in virtual time.
    EXPECT_EQ(replayed.endedAt, recorded.endedAt);
}

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const sim::SimulationScenario& scenario : sim::simulationScenarios())
        names.emplace_back(scenario.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(EveryScenario, ScenarioRoundTrip, ::testing::ValuesIn(scenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(ReplayTest, AnUpdateStaysSmallOnDisk) {
    testing::ScratchFolder folder;
    const std::string path = folder.path("run.jsonl");
    // A full 32 KiB image: written, then read back, 64 KiB through the wire.
    const std::vector<std::uint8_t> bytes = testing::sampleImageFor(kShippedHubIdentity, 32768, 0x0203);
    FirmwareBuffer image;
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    ASSERT_TRUE(recordUpdate("flash-code", path, image).succeeded);
    EXPECT_LT(std::filesystem::file_size(path), 100u * 1024u);
}

TEST(ReplayTest, AnotherImageDivergesAtItsFirstDifferingWriteAndTheRunFails) {
    testing::ScratchFolder folder;
    const std::string path = folder.path("run.jsonl");
    ASSERT_TRUE(recordUpdate("flash-code", path, sampleBuffer(0x0203)).succeeded);
    const Recording recording = load(path);

    // The first write whose chunk the other image changes: where the replay must stop.
    const std::vector<std::uint8_t> other = testing::sampleImageFor(kShippedHubIdentity, 8192, 0x0204);
    std::uint64_t firstWrite = 0;
    for (const Exchange& exchange : recording.exchanges) {
        if (exchange.kind != ExchangeKind::Control || exchange.setup.bRequest != 0xC8) continue;
        const std::size_t address = exchange.setup.wValue | static_cast<std::size_t>(exchange.setup.wIndex)
                                                                << 16;
        if (!std::equal(exchange.data.begin(), exchange.data.end(),
                        other.begin() + static_cast<long>(address))) {
            firstWrite = exchange.number;
            break;
        }
    }
    ASSERT_NE(firstWrite, 0u);

    VirtualClock clock;
    ReplayPlatform replay(recording, clock);
    FirmwareBuffer otherImage;
    FW_Parse(otherImage, other.data(), static_cast<std::int64_t>(other.size()));
    const RunOutcome replayed = runUpdate(replay, clock, otherImage);
    EXPECT_FALSE(replayed.succeeded);
    ASSERT_TRUE(replay.divergence().has_value());
    const std::string line = replay.divergence().value_or("");
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_EQ(
        line.rfind("Replay diverged at exchange " + std::to_string(firstWrite) + ": recorded ctrl 40 C8 ", 0),
        0u)
        << line;
    EXPECT_NE(line.find("sent ctrl 40 C8 "), std::string::npos) << line;
    EXPECT_NE(line.find(" at data byte "), std::string::npos) << line;
}

TEST(ReplayTest, AKilledRecordingReplaysUpToWhereItStopped) {
    testing::ScratchFolder folder;
    const std::string path = folder.path("run.jsonl");
    const FirmwareBuffer image = sampleBuffer();
    const RunOutcome recorded = recordUpdate("flash-code", path, image);

    // Cut the file in the middle of the line of the tenth transfer, as a kill would.
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t transfers = 0;
    std::size_t cut = 0;
    for (std::size_t line = text.find("\"e\":\"ctrl\""); line != std::string::npos;
         line = text.find("\"e\":\"ctrl\"", line + 1)) {
        if (++transfers == 10) {
            cut = line + 30;
            break;
        }
    }
    ASSERT_NE(cut, 0u);
    std::ofstream(path, std::ios::trunc) << text.substr(0, cut);
    const Recording recording = load(path);
    EXPECT_TRUE(recording.cutShort);

    VirtualClock clock;
    ReplayPlatform replay(recording, clock);
    const RunOutcome replayed = runUpdate(replay, clock, image);
    EXPECT_FALSE(replayed.succeeded);
    // Nine transfers went as recorded; the tenth is where the recording stops.
    ASSERT_GE(replayed.trace.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(replayed.trace.begin(), replayed.trace.begin() + 9),
              std::vector<std::string>(recorded.trace.begin(), recorded.trace.begin() + 9));
    ASSERT_TRUE(replay.divergence().has_value());
    EXPECT_NE(replay.divergence()->find("the recording holds nothing more"), std::string::npos)
        << *replay.divergence();
}

TEST(ReplayTest, HubsRunInParallelReplayEachInTheOrderOfItsOwnPort) {
    testing::ScratchFolder folder;
    const std::string path = folder.path("run.jsonl");
    const FirmwareBuffer image = sampleBuffer();
    const SupportedDeviceTable table = shippedTable();

    auto runFleet = [&](UsbPlatform& platform, Clock& clock) {
        std::vector<testing::RecordingReporter> reporters(2);
        HubFleet fleet{clock,
                       [&](const std::string& port) {
                           return std::make_unique<HubConnection>(platform, table, clock, port);
                       },
                       [&](std::size_t index) -> WorkflowReporter& { return reporters[index]; }};
        const std::vector<HubRunResult> results =
            runOnHubs(fleet, {"1-1", "1-2"},
                      [&](const WorkflowContext& context) { return updateFunc(context, image, "new.bin"); });
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < results.size(); ++i) {
            lines.push_back(results[i].portPath + (results[i].succeeded ? " ok" : " failed"));
            lines.insert(lines.end(), reporters[i].events.begin(), reporters[i].events.end());
        }
        return lines;
    };

    std::vector<std::string> recorded;
    {
        VirtualClock clock;
        auto environment = sim::SimulatedEnvironment::create(table, clock, "two-hubs");
        std::string error;
        auto writer = RecordingWriter::create(path, testHeader(), error);
        ASSERT_NE(writer, nullptr) << error;
        RecordingPlatform platform(environment->platform(), clock, *writer);
        recorded = runFleet(platform, clock);
    }
    ASSERT_EQ(recorded.front(), "1-1 ok");
    VirtualClock clock;
    ReplayPlatform replay(load(path), clock);
    EXPECT_EQ(runFleet(replay, clock), recorded);
    EXPECT_EQ(replay.divergence(), std::nullopt);
}

// What a window's hot-plug pump sees: each arrival and departure comes at its
// place among the calls, however many polls the replaying program makes, and a
// call recorded after an event waits until a poll has delivered it.
TEST(ReplayHotplugTest, EventsKeepTheirPlaceAmongTheCalls) {
    testing::ScratchFolder folder;
    const std::string path = folder.path("run.jsonl");
    std::mutex mutex;
    using Seen = std::vector<std::string>;
    auto watch = [&mutex](UsbPlatform& platform, Seen& seen) {
        return platform.setHotplugCallback([&](UsbHotplugEvent event, const UsbDeviceInfo& device) {
            std::lock_guard lock(mutex);
            seen.push_back((event == UsbHotplugEvent::Arrived ? "arrived " : "left ") + device.portPath);
        });
    };
    auto hubOn = [](UsbPlatform& platform, const std::string& port) {
        for (const UsbDeviceInfo& device : platform.listDevices())
            if (device.portPath == port) return device;
        return UsbDeviceInfo{};
    };
    Seen recorded;
    {
        VirtualClock clock;
        auto environment = sim::SimulatedEnvironment::create(shippedTable(), clock, "with-mouse");
        std::string error;
        auto writer = RecordingWriter::create(path, testHeader(), error);
        ASSERT_NE(writer, nullptr) << error;
        RecordingPlatform platform(environment->platform(), clock, *writer);
        ASSERT_TRUE(watch(platform, recorded));
        platform.pollEvents(Milliseconds(0));  // a quiet bus
        ASSERT_NE(platform.openDevice(hubOn(platform, "1-1")).device, nullptr);
        environment->bus().unplug("1-1");
        platform.pollEvents(Milliseconds(0));
        environment->bus().plugIn("1-1");
        platform.pollEvents(Milliseconds(0));
        ASSERT_NE(platform.openDevice(hubOn(platform, "1-1")).device, nullptr);
        recorded.push_back("open 1-1");
    }
    // Both halves of the hub leave and come back.
    ASSERT_EQ(recorded, (Seen{"left 1-1", "left 128-1", "arrived 1-1", "arrived 128-1", "open 1-1"}));

    VirtualClock clock;
    ReplayPlatform replay(load(path), clock);
    Seen replayed;
    ASSERT_TRUE(watch(replay, replayed));
    // Polls before the first open deliver nothing: the hub left after it.
    replay.pollEvents(Milliseconds(0));
    replay.pollEvents(Milliseconds(0));
    EXPECT_TRUE(replayed.empty());
    ASSERT_NE(replay.openDevice(hubOn(replay, "1-1")).device, nullptr);
    // The second open was recorded after both events: it waits for a poll.
    std::thread opener([&] {
        const UsbDeviceInfo hub = hubOn(replay, "1-1");
        const bool opened = replay.openDevice(hub).device != nullptr;
        std::lock_guard lock(mutex);
        replayed.push_back(opened ? "open 1-1" : "refused 1-1");
    });
    replay.pollEvents(Milliseconds(100));  // one poll delivers them all
    opener.join();
    EXPECT_EQ(replayed, recorded);
    EXPECT_EQ(replay.divergence(), std::nullopt);
}

}  // namespace
}  // namespace velmora::recording
