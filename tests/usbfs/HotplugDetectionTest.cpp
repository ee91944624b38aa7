// Arrival and removal reach the program through libusb's hot-plug support, and
// each runs hub detection once.
#include "EmulatedHubFixture.h"
#include "detection/HubDetection.h"
#include "device/FlashOperations.h"
#include "device/UsbConnection.h"

namespace velmora::usbfs::testing {
namespace {

constexpr Milliseconds kPollSlice{100};
constexpr int kMostPollSlices = 50;  // a bound, never a measurement

class HotplugDetectionTest : public EmulatedHubTest {
protected:
    void watchBus() {
        ASSERT_TRUE(platform_->setHotplugCallback([this](UsbHotplugEvent event, const UsbDeviceInfo&) {
            events_.push_back(event);
            results_.push_back(DetectHub(*connection_));
        }));
    }
    // Polls until count events have come, or the bound is reached.
    void pumpUntil(std::size_t count) {
        for (int slice = 0; slice < kMostPollSlices && events_.size() < count; ++slice)
            platform_->pollEvents(kPollSlice);
    }

    std::vector<UsbHotplugEvent> events_;
    std::vector<HubInfo> results_;
};

TEST_F(HotplugDetectionTest, AHubArrivingRunsDetectionOnce) {
    startLibusb();
    watchBus();
    addHub(1);
    // A hub in its flash code is two devices, its SuperSpeed and High-Speed halves:
    // each arrival runs detection once, and each finds the one hub.
    pumpUntil(2);
    platform_->pollEvents(kPollSlice);  // nothing more may come
    ASSERT_EQ(events_, std::vector<UsbHotplugEvent>(2, UsbHotplugEvent::Arrived));
    ASSERT_EQ(results_.size(), 2u);
    EXPECT_EQ(results_[1].text, "Detect Zelo Hub : Success\nfwVer:0102");
    EXPECT_EQ(results_[1].colour, TextColour::Blue);
    EXPECT_FALSE(connection_->isOpen());
}

TEST_F(HotplugDetectionTest, AnyDeviceArrivingRunsDetectionOnce) {
    startLibusb();
    watchBus();
    addMouse(3);
    pumpUntil(1);
    platform_->pollEvents(kPollSlice);
    ASSERT_EQ(events_, std::vector<UsbHotplugEvent>{UsbHotplugEvent::Arrived});
    EXPECT_EQ(results_.at(0).text, kHubNotFoundText);
    EXPECT_EQ(results_.at(0).colour, TextColour::Red);
}

TEST_F(HotplugDetectionTest, AHubLeavingRunsDetectionOnce) {
    addHub(1);
    startLibusb();
    watchBus();
    bus_.unplug(testPortPath(1));
    testbed_->sync();
    pumpUntil(2);
    platform_->pollEvents(kPollSlice);
    ASSERT_EQ(events_, std::vector<UsbHotplugEvent>(2, UsbHotplugEvent::Left));  // both halves
    EXPECT_EQ(results_.at(1).text, kHubNotFoundText);
    EXPECT_EQ(results_.at(1).colour, TextColour::Red);
}

TEST_F(HotplugDetectionTest, AResetShowsTheHubLeavingThenArriving) {
    sim::SimulatedHub& hub = addHub(1);
    hub.setRunState(sim::RunState::RomCode);
    startLibusb();
    watchBus();
    ASSERT_TRUE(USB_OpenHub(*connection_));
    ASSERT_TRUE(FL_ResetAndWait(flash::kResetToFlashCode, *connection_));
    USB_CloseHub(*connection_);
    pumpUntil(4);
    platform_->pollEvents(kPollSlice);
    ASSERT_EQ(events_, (std::vector<UsbHotplugEvent>{UsbHotplugEvent::Left, UsbHotplugEvent::Left,
                                                     UsbHotplugEvent::Arrived, UsbHotplugEvent::Arrived}));
    EXPECT_EQ(results_.back().text, "Detect Zelo Hub : Success\nfwVer:0102");
}

}  // namespace
}  // namespace velmora::usbfs::testing
