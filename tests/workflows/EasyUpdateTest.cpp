// The easy update against the simulated hub: the pane, its colour, the slider and
// the hub's flash after each run, and every failure the hub can cause.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "device/simulated/HubFaults.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/EasyUpdate.h"

namespace velmora::testing {
namespace {

const std::string kImageName = "/images/new.bin";
const std::string kOpenFailure =
    "Fail To Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n";

// A 10000-byte image: the sample's block kept a whole number of blocks from the end.
std::vector<std::uint8_t> tenThousandByteImage() {
    std::vector<std::uint8_t> image = sampleImage(10240, 0x0203);
    image.erase(image.begin(), image.begin() + 240);
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
    const std::vector<std::uint8_t> bytes = tenThousandByteImage();
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

TEST_F(EasyUpdateTest, SliderMarksEachStepAndWaitsOnlyForThem) {
    const FirmwareBuffer image = parsed(tenThousandByteImage());
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
    const std::string steps = "Erase Flash...\nWrite Flash...\nRead Flash...\n";
    return {
        {"HubHeldByAnotherDriver", held, kOpenFailure + "Update FW Fail\n", 0},
        {"EraseFailsThreeTimes", failing(sim::RequestKind::EraseFlash, 3),
         "Erase Flash...\nFail to Erase Flash\nUpdate FW Fail\n", 0},
        {"ProgramRequestFails", failing(sim::RequestKind::WriteFlash, 1),
         "Erase Flash...\nWrite Flash...\nFail to Write Flash\nUpdate FW Fail\n", 10},
        {"ReadRequestFails", failing(sim::RequestKind::ReadFlash, 1),
         steps + "Fail to Read Flash\nUpdate FW Fail\n", 50},
        {"ReadBackDiffers", corrupt, steps + "Verify Flash...\nFail to verify flash\nUpdate FW Fail\n", 90},
        {"HubNeverComesBack", gone,
         steps + "Verify Flash...\nReset to Flash Code...\nFail to Reset to Flash Code\nUpdate FW Fail\n",
         100},
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

TEST_F(EasyUpdateTest, WithoutAnImageTheHubIsNeverTouched) {
    EXPECT_FALSE(updateFunc(context(), FirmwareBuffer{}, ""));

    EXPECT_EQ(reporter_.pane, "FW:(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
    EXPECT_TRUE(hub_->requests().empty());
    expectCleanEnding();
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
