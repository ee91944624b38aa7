// The flash page's read and erase runs against the simulated hub, and loading a
// file into the flash-page buffer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "detection/DetectionScheduler.h"
#include "device/simulated/HubFaults.h"
#include "tests/support/ScratchFolder.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/FlashPage.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::testing {
namespace {

const std::string kReadOpenFailure =
    "Fail to Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n";

sim::HubFaults failing(sim::RequestKind kind, int count) {
    sim::HubFaults faults;
    faults.failures.push_back({kind, count, sim::Outcome::Stalled});
    return faults;
}

sim::HubFaults heldByAnotherDriver() {
    sim::HubFaults faults;
    faults.heldByAnotherDriver = true;
    return faults;
}

sim::HubFaults shortRead() {
    sim::HubFaults faults;
    faults.shortAnswers.push_back({sim::RequestKind::ReadFlash, 1});
    return faults;
}

sim::HubFaults neverReturns() {
    sim::HubFaults faults;
    faults.neverReturnsAfterReset = true;
    return faults;
}

class FlashPageTest : public SimulatedHubFixture {};

TEST_F(FlashPageTest, ReadFillsTheBufferAndReturnsTheSliderToZero) {
    FirmwareBuffer flashPage;
    EXPECT_TRUE(readFunc_FwFlash(context(), flashPage));

    EXPECT_EQ(reporter_.pane, "Open Device...\nReading Flash...\nReset to Flash Code...\nRead Fw Success\n");
    EXPECT_EQ(reporter_.colour, PaneColour::Blue);
    const std::vector<double> expected = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0};
    EXPECT_EQ(reporter_.progressValues(), expected);
    EXPECT_EQ(reporter_.progress.back().delivery, ProgressDelivery::NoWait);

    ASSERT_TRUE(flashPage.loaded);
    EXPECT_EQ(flashPage.size, 32768);
    EXPECT_EQ(flashPage.data, hub_->flashContents());
    const std::vector<std::string> ending = {"readFinished", "buttons:on"};
    EXPECT_EQ(std::vector<std::string>(reporter_.events.end() - 2, reporter_.events.end()), ending);
    EXPECT_EQ(hub_->runState(), sim::RunState::FlashCode);
    expectCleanEnding();
}

TEST_F(FlashPageTest, BlankFlashReadsButLeavesNoImage) {
    hub_->loadFlashImage({});
    FirmwareBuffer flashPage = parsed(sampleImage(4096));

    EXPECT_TRUE(readFunc_FwFlash(context(), flashPage));

    EXPECT_EQ(reporter_.events.back(), "buttons:on");
    EXPECT_NE(reporter_.pane.find("Read Fw Success\n"), std::string::npos);
    EXPECT_FALSE(flashPage.loaded);
    EXPECT_EQ(flashPage.data.size(), 32768u);  // the bytes are still there to be saved
    expectCleanEnding();
}

struct ReadFailureCase {
    const char* name;
    sim::HubFaults faults;
    std::string pane;
};

class FlashReadFailureTest : public SimulatedHubFixture,
                             public ::testing::WithParamInterface<ReadFailureCase> {};

TEST_P(FlashReadFailureTest, LeavesTheBufferAsItWas) {
    hub_->setRunState(sim::RunState::RomCode);
    hub_->setFaults(GetParam().faults);
    const std::vector<std::uint8_t> earlier = sampleImage(4096, 0x0777);
    FirmwareBuffer flashPage = parsed(earlier);

    EXPECT_FALSE(readFunc_FwFlash(context(), flashPage));

    EXPECT_EQ(reporter_.pane, GetParam().pane);
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
    EXPECT_EQ(reporter_.slider, 0.0);
    EXPECT_EQ(flashPage.data, earlier);
    EXPECT_TRUE(flashPage.loaded);
    expectCleanEnding();
}

INSTANTIATE_TEST_SUITE_P(
    EachFailingStep, FlashReadFailureTest,
    ::testing::Values(ReadFailureCase{"HubCannotBeOpened", heldByAnotherDriver(),
                                      "Open Device...\n" + kReadOpenFailure + "Read Fw Fail\n"},
                      ReadFailureCase{"ReadRequestFails", failing(sim::RequestKind::ReadFlash, 1),
                                      "Open Device...\nReading Flash...\nFail to Read Flash\nRead Fw Fail\n"},
                      ReadFailureCase{"ReadComesShort", shortRead(),
                                      "Open Device...\nReading Flash...\nFail to Read Flash\nRead Fw Fail\n"},
                      ReadFailureCase{"HubNeverComesBack", neverReturns(),
                                      "Open Device...\nReading Flash...\nReset to Flash Code...\n"
                                      "Fail to Reset to Flash Code\nRead Fw Fail\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashPageTest, EraseClearsTheFlashAndKeepsTheSliderAtZero) {
    EXPECT_TRUE(eraseFunc_FwFlash(context()));

    EXPECT_EQ(reporter_.pane, "Open Rom Device...\nErase Flash...\nReseting...\nErase FW Success\n");
    EXPECT_EQ(reporter_.colour, PaneColour::Blue);
    EXPECT_EQ(reporter_.progressValues(), std::vector<double>{0});
    EXPECT_FALSE(hub_->imageVersion().has_value());
    expectCleanEnding();
}

struct EraseFailureCase {
    const char* name;
    sim::HubFaults faults;
    std::string pane;
};

class EraseFailureTest : public SimulatedHubFixture,
                         public ::testing::WithParamInterface<EraseFailureCase> {};

TEST_P(EraseFailureTest, EndsRedWithTheStepThatFailed) {
    hub_->setRunState(sim::RunState::RomCode);
    hub_->setFaults(GetParam().faults);

    EXPECT_FALSE(eraseFunc_FwFlash(context()));

    EXPECT_EQ(reporter_.pane, GetParam().pane);
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
    expectCleanEnding();
}

INSTANTIATE_TEST_SUITE_P(
    EachFailingStep, EraseFailureTest,
    ::testing::Values(EraseFailureCase{"HubCannotBeOpened", heldByAnotherDriver(),
                                       "Open Rom Device...\nFail to Open Rom Device\nErase FW Fail\n"},
                      EraseFailureCase{
                          "EraseFails", failing(sim::RequestKind::EraseFlash, 3),
                          "Open Rom Device...\nErase Flash...\nFail to Erase flash\nErase FW Fail\n" +
                              std::string(messages::kWayBack)},
                      EraseFailureCase{"HubNeverComesBack", neverReturns(),
                                       "Open Rom Device...\nErase Flash...\nReseting...\n"
                                       "Fail to Reset Flash & Wait\nErase FW Fail\n" +
                                           std::string(messages::kWayBack)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashPageTest, DetectionAskedForDuringARunIsDeferredToItsEnd) {
    int detections = 0;
    bool deferred = false;
    DetectionScheduler scheduler([&] { ++detections; }, [&] { deferred = true; });
    reporter_.onAppend = [&] { scheduler.requestDetection(); };

    EXPECT_TRUE(eraseFunc_FwFlash(WorkflowContext{reporter_, *connection_, &scheduler}));

    EXPECT_EQ(detections, 0);
    EXPECT_TRUE(deferred);
    EXPECT_FALSE(scheduler.workflowRunning());
}

class FlashPageLoadTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return scratch_.write(name, bytes);
    }

    ScratchFolder scratch_{"velmora-load"};
    std::filesystem::path folder_ = scratch_.path();
    RecordingReporter reporter_;
};

TEST_F(FlashPageLoadTest, OutcomesAndAlerts) {
    FirmwareBuffer flashPage;
    const std::string good = write("good.bin", sampleImage(4096));
    const std::string noBlock = write("noblock.bin", std::vector<std::uint8_t>(1024, 0x11));
    const std::string missing = (folder_ / "missing.bin").string();

    EXPECT_EQ(load_FwFlash(flashPage, missing, reporter_), FlashPageLoad::NoImage);
    EXPECT_EQ(load_FwFlash(flashPage, good, reporter_), FlashPageLoad::Loaded);
    flashPage.blockByte(2) = 0x12;  // an edit that a failed load must not throw away
    EXPECT_EQ(load_FwFlash(flashPage, missing, reporter_), FlashPageLoad::KeptEarlier);
    EXPECT_EQ(flashPage.blockByte(2), 0x12);
    EXPECT_EQ(load_FwFlash(flashPage, noBlock, reporter_), FlashPageLoad::NoImage);
    EXPECT_FALSE(flashPage.loaded);

    const std::vector<std::string> alerts = {"Firmware format error\n", "Cannot read file\n",
                                             "Firmware format error\n"};
    EXPECT_EQ(reporter_.alerts, alerts);
}

}  // namespace
}  // namespace velmora::testing
