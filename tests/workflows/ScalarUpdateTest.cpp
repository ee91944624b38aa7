// The production-line run: the configured image is reloaded for every run, and a
// station quits only after a success, once its front end asks for that.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"
#include "tests/workflows/SimulatedHubFixture.h"
#include "workflows/ScalarUpdate.h"

namespace velmora::testing {
namespace {

class ScalarUpdateTest : public SimulatedHubFixture {
protected:
    void SetUp() override {
        configured_ = sampleImage(4096, 0x0505);
        std::ofstream(resources_ / "fw.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(configured_.data()),
                   static_cast<std::streamsize>(configured_.size()));
    }

    ScalarSettings settings(const std::string& fwbin) { return {resources_.string(), fwbin}; }

    ScratchFolder scratch_{"velmora-scalar"};
    std::filesystem::path resources_ = scratch_.path();
    std::vector<std::uint8_t> configured_;
};

TEST_F(ScalarUpdateTest, ConfiguredImageReplacesAChosenOne) {
    EXPECT_EQ(scalarImagePath(settings("fw.bin")), resources_.string() + "//fw.bin");
    FirmwareBuffer scalar = parsed(sampleImage(8192, 0x0999));

    EXPECT_TRUE(updateScalar(context(), scalar, settings("fw.bin"), "fw.bin"));

    EXPECT_EQ(scalar.data, configured_);
    EXPECT_EQ(hub_->imageVersion(), 0x0505);
    EXPECT_EQ(reporter_.pane.substr(0, 22), "FW:fw.bin(size=4096)\n\n");
    expectCleanEnding();
}

TEST_F(ScalarUpdateTest, StationQuitsFiveSecondsAfterSuccess) {
    reporter_.quits = true;
    FirmwareBuffer scalar;
    ASSERT_TRUE(updateScalar(context(), scalar, settings("fw.bin"), "fw.bin"));

    EXPECT_EQ(reporter_.events.back(), "quit");
    EXPECT_EQ(reporter_.events[reporter_.events.size() - 2], "buttons:on");
    EXPECT_EQ(clock_.sleeps().back(), std::chrono::milliseconds(5000));
}

TEST_F(ScalarUpdateTest, FrontEndThatStaysOpenIsNotMadeToWait) {
    FirmwareBuffer scalar;
    ASSERT_TRUE(updateScalar(context(), scalar, settings("fw.bin"), "fw.bin"));

    EXPECT_EQ(reporter_.events.back(), "buttons:on");
    EXPECT_NE(clock_.sleeps().back(), std::chrono::milliseconds(5000));
}

TEST_F(ScalarUpdateTest, NothingConfiguredFailsAndStaysOpen) {
    reporter_.quits = true;
    FirmwareBuffer scalar;

    EXPECT_FALSE(updateScalar(context(), scalar, settings(""), ""));

    EXPECT_EQ(reporter_.pane, "FW:(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_EQ(reporter_.events.back(), "buttons:on");
    expectCleanEnding();
}

TEST_F(ScalarUpdateTest, ChosenFileThatCannotBeReadIsNotReplacedByTheEarlierOne) {
    FirmwareBuffer scalar;
    chooseScalarUpdateFw(scalar, (resources_ / "fw.bin").string());
    ASSERT_TRUE(scalar.loaded);
    const std::string missing = (resources_ / "missing.bin").string();
    chooseScalarUpdateFw(scalar, missing);

    EXPECT_FALSE(updateScalar(context(), scalar, settings(""), missing));

    EXPECT_EQ(reporter_.pane, "FW:" + missing + "(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_TRUE(hub_->requests().empty());
    expectCleanEnding();
}

// The configured image that cannot be read at the start of a run (deleted,
// unreadable) leaves nothing to write: the image cached by the run before is not
// flashed in its place.
TEST_F(ScalarUpdateTest, AFailedReloadWritesNothing) {
    FirmwareBuffer scalar;
    ASSERT_TRUE(updateScalar(context(), scalar, settings("fw.bin"), "fw.bin"));
    std::filesystem::remove(resources_ / "fw.bin");
    hub_->loadFlashImage(sampleImage(4096, 0x0100));
    hub_->clearRequests();

    EXPECT_FALSE(updateScalar(context(), scalar, settings("fw.bin"), "fw.bin"));

    EXPECT_EQ(reporter_.pane, "FW:fw.bin(size=0)\n\nWrong firmware file\nUpdate FW Fail\n");
    EXPECT_FALSE(scalar.loaded);
    EXPECT_TRUE(hub_->requests().empty());
    EXPECT_EQ(hub_->imageVersion(), 0x0100);
    expectCleanEnding();
}

TEST_F(ScalarUpdateTest, FailedRunDoesNotQuit) {
    reporter_.quits = true;
    sim::HubFaults faults;
    faults.heldByAnotherDriver = true;
    hub_->setFaults(faults);
    FirmwareBuffer scalar;

    EXPECT_FALSE(updateScalar(context(), scalar, settings("fw.bin"), "fw.bin"));

    EXPECT_EQ(reporter_.events.back(), "buttons:on");
    EXPECT_EQ(reporter_.colour, PaneColour::Red);
}

}  // namespace
}  // namespace velmora::testing
