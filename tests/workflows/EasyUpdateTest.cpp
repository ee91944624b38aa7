// The easy update against the simulated hub: the pane, its colour, the slider and
// the hub's flash after each run, and every failure the hub can cause.
#include <gtest/gtest.h>

#include <algorithm>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Console.h"
#include "device/FlashOperations.h"
#include "device/simulated/HubFaults.h"
#include "firmware/ImageLayout.h"
#include "tests/support/HookClock.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"
#include "workflows/FlashPage.h"
#include "workflows/RunObserver.h"

namespace velmora::testing {
namespace {

const std::string kImageName = "/images/new.bin";
const std::string kOpenFailure =
    "Fail To Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n";

// The 10000-byte image with a copy of its block (and version) at the page start below it,
// where the hub's boot code finds it.
std::vector<std::uint8_t> bootableTenThousandByteImage() {
    std::vector<std::uint8_t> image = tenThousandByteImage();
    FirmwareBuffer parsed;
    FW_Parse(parsed, image.data(), static_cast<std::int64_t>(image.size()));
    const std::size_t from = *parsed.block - image::kVersionBeforeBlock;
    const std::size_t page = (*parsed.block / image::kBlockBytes - 1) * image::kBlockBytes;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(from),
                image::kVersionBeforeBlock + image::kBlockBytes,
                image.begin() + static_cast<std::ptrdiff_t>(page - image::kVersionBeforeBlock));
    return image;
}

struct Chunk {
    std::uint32_t address;
    std::uint16_t length;
    bool operator==(const Chunk&) const = default;
};

std::vector<Chunk> chunksOf(const std::vector<sim::RecordedRequest>& requests, sim::RequestKind kind) {
    std::vector<Chunk> chunks;
    for (const sim::RecordedRequest& request : requests) {
        if (sim::classifyRequest(request.setup) != kind) continue;
        const auto address = static_cast<std::uint32_t>(request.setup.wValue | (request.setup.wIndex << 16));
        chunks.push_back({address, request.setup.wLength});
    }
    return chunks;
}

class EasyUpdateTest : public SimulatedHubFixture {};

TEST_F(EasyUpdateTest, WritesTheImageAndStartsIt) {
    const std::vector<std::uint8_t> bytes = bootableTenThousandByteImage();
    const FirmwareBuffer image = parsed(bytes);
    ASSERT_TRUE(image.loaded);

    EXPECT_TRUE(updateFunc(context(), image, kImageName));

    EXPECT_EQ(reporter_.pane,
              "FW:/images/new.bin(size=10000)\n\n"
              "Erase Flash...\nWrite Flash...\nRead Flash...\nVerify Flash...\n"
              "Reset to Flash Code...\nUpdate FW Success\n");
    EXPECT_EQ(reporter_.colour, PaneColour::Blue);
    const std::vector<Chunk> expected = {{0, 4096}, {4096, 4096}, {8192, 1808}};
    EXPECT_EQ(chunksOf(hub_->requests(), sim::RequestKind::WriteFlash), expected);
    EXPECT_EQ(chunksOf(hub_->requests(), sim::RequestKind::ReadFlash), expected);

    const std::vector<std::uint8_t> flash = hub_->flashContents();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
    EXPECT_EQ(reporter_.events.back(), "buttons:on");
    expectCleanEnding();
}

// The closing status read decides: written and compared, an image the hub does
// not boot has not updated it.
TEST_F(EasyUpdateTest, FailsWhenTheHubComesBackRunningAnotherCode) {
    EXPECT_FALSE(updateFunc(context(), parsed(tenThousandByteImage()), kImageName));
    EXPECT_NE(
        reporter_.pane.find("Reset to Flash Code...\nFail to start the firmware written: the hub came back "
                            "running its ROM code ("),
        std::string::npos)
        << reporter_.pane;
    EXPECT_TRUE(reporter_.pane.ends_with(
        "), not flash code version 0203\nUpdate FW Fail\nTo bring the hub back: velmora-cli recover\n"))
        << reporter_.pane;
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
}

TEST_F(EasyUpdateTest, SliderMarksEachStepAndWaitsOnlyForThem) {
    const FirmwareBuffer image = parsed(bootableTenThousandByteImage());
    updateFunc(context(), image, kImageName);

    std::vector<std::pair<double, ProgressDelivery>> marks;
    for (const ProgressPost& post : reporter_.progress) {
        if (post.delivery == ProgressDelivery::Wait) marks.push_back({post.value, post.delivery});
    }
    const std::vector<std::pair<double, ProgressDelivery>> expectedMarks = {
        {0, ProgressDelivery::Wait}, {10, ProgressDelivery::Wait}, {100, ProgressDelivery::Wait}};
    EXPECT_EQ(marks, expectedMarks);

    const std::vector<double> values = reporter_.progressValues();
    ASSERT_EQ(values.size(), 9u);  // start, erase, three chunks each way, compare
    EXPECT_EQ(values[4], 50.0);
    EXPECT_EQ(values[7], 90.0);
    EXPECT_EQ(reporter_.slider, 100.0);
}

struct FailureCase {
    const char* name;
    sim::HubFaults faults;
    std::string paneAfterImageLine;
    double sliderAtEnd;
};

sim::HubFaults failing(sim::RequestKind kind, int count) {
    sim::HubFaults faults;
    faults.failures.push_back({kind, count, sim::Outcome::Stalled});
    return faults;
}

std::vector<FailureCase> failureCases() {
    sim::HubFaults held;
    held.heldByAnotherDriver = true;
    sim::HubFaults corrupt;
    corrupt.corruptReadAddress = 5000;
    sim::HubFaults gone;
    gone.neverReturnsAfterReset = true;
    sim::HubFaults shortReadBack;
    shortReadBack.shortAnswers.push_back({sim::RequestKind::ReadFlash, 1});
    const std::string steps = "Erase Flash...\nWrite Flash...\nRead Flash...\n";
    const std::string failed = "Update FW Fail\nTo bring the hub back: velmora-cli recover\n";
    return {
        {"HubHeldByAnotherDriver", held, kOpenFailure + "Update FW Fail\n", 0},
        {"EraseFailsThreeTimes", failing(sim::RequestKind::EraseFlash, 3),
         "Erase Flash...\nFail to Erase Flash\n" + failed, 0},
        {"ProgramRequestFails", failing(sim::RequestKind::WriteFlash, 1),
         "Erase Flash...\nWrite Flash...\nFail to Write Flash\n" + failed, 10},
        {"ReadRequestFails", failing(sim::RequestKind::ReadFlash, 1), steps + "Fail to Read Flash\n" + failed,
         50},
        {"ReadBackComesShort", shortReadBack, steps + "Fail to Read Flash\n" + failed, 50},
        {"ReadBackDiffers", corrupt, steps + "Verify Flash...\nFail to verify flash\n" + failed, 90},
        {"HubNeverComesBack", gone,
         steps + "Verify Flash...\nReset to Flash Code...\nFail to Reset to Flash Code\n" + failed, 100},
    };
}

class EasyUpdateFailureTest : public SimulatedHubFixture,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EasyUpdateFailureTest, EndsRedWithTheStepThatFailed) {
    // In its ROM code already, so the only reset is the one into the new image.
    hub_->setRunState(sim::RunState::RomCode);
    hub_->setFaults(GetParam().faults);
    const FirmwareBuffer image = parsed(tenThousandByteImage());

    EXPECT_FALSE(updateFunc(context(), image, kImageName));

    EXPECT_EQ(reporter_.pane, "FW:/images/new.bin(size=10000)\n\n" + GetParam().paneAfterImageLine);
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
    EXPECT_EQ(reporter_.slider, GetParam().sliderAtEnd);
    expectCleanEnding();
}

INSTANTIATE_TEST_SUITE_P(EachFailingStep, EasyUpdateFailureTest, ::testing::ValuesIn(failureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Observing a run never changes what goes to the hub: the status read that
// closes a successful run is a step of the run, not of its record.
TEST_F(EasyUpdateTest, ObservingARunNeverChangesWhatGoesOnTheWire) {
    class QuietLog final : public RunLog {
        void phaseStarted(RunPhase) override {}
        void hubSeen(const HubConnection::HubSighting&) override {}
        void ended(const RunEnd&) override {}
    };
    class QuietObserver final : public RunObserver {
        std::unique_ptr<RunLog> runStarted(const RunStart&) override { return std::make_unique<QuietLog>(); }
    };
    const FirmwareBuffer image = parsed(sampleImage(8192, 0x0203));
    const auto wire = [this] {
        std::vector<std::array<std::uint8_t, 8>> setups;
        for (const sim::RecordedRequest& request : hub_->requests()) setups.push_back(request.wireBytes);
        hub_->clearRequests();
        return setups;
    };
    ASSERT_TRUE(updateFunc(context(), image, kImageName));
    const auto unobserved = wire();
    QuietObserver observer;
    WorkflowContext observed = context();
    observed.observer = &observer;
    ASSERT_TRUE(updateFunc(observed, image, kImageName));
    EXPECT_EQ(wire(), unobserved);
}

TEST_F(EasyUpdateTest, WithoutAnImageTheHubIsNeverTouched) {
    EXPECT_FALSE(updateFunc(context(), FirmwareBuffer{}, ""));

    EXPECT_EQ(reporter_.pane, "FW:(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
    EXPECT_TRUE(hub_->requests().empty());
    expectCleanEnding();
}

// An image larger than the flash would be found out only after the erase, leaving
// the hub in ROM code with part of it: it is refused before the hub is touched.
TEST_F(EasyUpdateTest, AnImageLargerThanTheFlashIsRefusedBeforeTheHubIsTouched) {
    RecordingConsole console;
    WorkflowContext withConsole = context();
    withConsole.console = &console;
    const std::vector<std::uint8_t> before = hub_->flashContents();

    EXPECT_FALSE(updateFunc(withConsole, parsed(sampleImage(32768 + 256)), kImageName));

    EXPECT_EQ(reporter_.pane, "FW:/images/new.bin(size=33024)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_TRUE(hub_->requests().empty());
    EXPECT_EQ(hub_->flashContents(), before);
    EXPECT_EQ(console.lines(), std::vector<std::string>{
                                   "/images/new.bin is 33024 bytes, larger than the hub's 32768-byte flash"});
    expectCleanEnding();
}

// A run holds the hub from its first open to its end. Another run that tries it
// while the first waits for the hub to come back from a reset is refused at once
// as busy, and the first run goes on undisturbed.
TEST_F(EasyUpdateTest, AnotherRunCannotTakeTheHubWhileItResets) {
    HookClock clock(clock_);
    HubConnection first(platform_, table_, clock);
    RecordingReporter secondReporter;
    bool secondErased = true;
    clock.afterSleep(flash::kArrivalSettleTime, [&] {
        ASSERT_TRUE(hub_->isOnBus());  // back from its reset, not yet reopened
        secondErased = eraseFunc_FwFlash({secondReporter, *connection_});
    });

    EXPECT_TRUE(updateFunc({reporter_, first}, parsed(sampleImage(4096, 0x0203)), kImageName));

    EXPECT_FALSE(secondErased);
    EXPECT_EQ(secondReporter.pane,
              "Open Rom Device...\nZelo Hub is busy: another update program is using it\n"
              "\nErase FW Fail\n");
    EXPECT_EQ(hub_->imageVersion(), 0x0203);
    EXPECT_EQ(reporter_.pane.substr(reporter_.pane.size() - 18), "Update FW Success\n");
    EXPECT_FALSE(bus_.isPortClaimed("1-1"));
}

// Runs one step as the first sleep begins with the hub off the bus: a run has
// started to wait for the hub to restart, and the bus does not list it.
class OffTheBusClock final : public Clock {
public:
    OffTheBusClock(Clock& time, sim::SimulatedHub& hub, std::function<void()> step)
        : time_(time), hub_(hub), step_(std::move(step)) {}
    Milliseconds now() const override { return time_.now(); }
    void sleepFor(Milliseconds duration) override {
        if (step_ && !hub_.isOnBus()) std::exchange(step_, nullptr)();
        time_.sleepFor(duration);
    }

private:
    Clock& time_;
    sim::SimulatedHub& hub_;
    std::function<void()> step_;
};

// While the first run's hub is off the bus, restarting, no hub is listed at all.
// A second run then is refused as busy, naming the port the first one holds, not
// told to load a driver; it sends nothing, and the first run finishes. Once the
// first run is over, the same hub missing is a plain open failure again.
TEST_F(EasyUpdateTest, AnotherRunIsBusyEvenWhileTheHubIsOffTheBus) {
    RecordingReporter secondReporter;
    bool secondErased = true;
    std::size_t requestsBefore = 0;
    std::size_t requestsAfter = 0;
    OffTheBusClock clock(clock_, *hub_, [&] {
        requestsBefore = hub_->requests().size();
        secondErased = eraseFunc_FwFlash({secondReporter, *connection_});
        requestsAfter = hub_->requests().size();
    });
    HubConnection first(platform_, table_, clock);

    EXPECT_TRUE(updateFunc({reporter_, first}, parsed(sampleImage(4096, 0x0203)), kImageName));

    EXPECT_FALSE(secondErased);
    EXPECT_EQ(secondReporter.pane,
              "Open Rom Device...\nZelo Hub is busy: another update program is using it\n"
              "\nErase FW Fail\n");
    ASSERT_TRUE(connection_->busyPort());
    EXPECT_EQ(connection_->busyPort()->portPath, "1-1");
    EXPECT_EQ(busyPortText(*connection_), "another run holds the hub on port 1-1: let it finish, or end it");
    EXPECT_EQ(requestsAfter, requestsBefore);
    EXPECT_EQ(hub_->imageVersion(), 0x0203);

    bus_.unplug("1-1");
    RecordingReporter third;
    EXPECT_FALSE(eraseFunc_FwFlash({third, *connection_}));
    EXPECT_EQ(third.pane, "Open Rom Device...\nFail to Open Rom Device\nErase FW Fail\n");
    EXPECT_FALSE(connection_->refusedAsBusy());
}

// With two hubs attached the run writes the hub it reset into ROM code, even
// while that hub is away longer than one poll and another hub in ROM code is listed.
TEST_F(EasyUpdateTest, WritesTheHubItResetAndNoOther) {
    HubRig rig;
    RigHubOptions slow;
    slow.rebootTime = Milliseconds{3000};
    slow.imageVersion = 0x0100;
    sim::SimulatedHub& reset = rig.addHub(slow);
    RigHubOptions blank;
    blank.inFlashCode = false;
    blank.portPath = "1-2";
    sim::SimulatedHub& other = rig.addHub(blank);

    EXPECT_TRUE(updateFunc({reporter_, rig.connection}, parsed(sampleImage(4096, 0x0203)), kImageName));

    EXPECT_EQ(reset.imageVersion(), 0x0203);
    EXPECT_TRUE(other.requests().empty());
    EXPECT_EQ(other.imageVersion(), std::nullopt);
}

TEST_F(EasyUpdateTest, HubInItsFlashCodeIsSwitchedToRomCodeFirst) {
    ASSERT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_TRUE(updateFunc(context(), parsed(sampleImage(4096, 0x0203)), kImageName));
    EXPECT_EQ(chunksOf(hub_->requests(), sim::RequestKind::ResetToRomCode).size(), 1u);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    EXPECT_EQ(hub_->imageVersion(), 0x0203);
}

}  // namespace
}  // namespace velmora::testing
