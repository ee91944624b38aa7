// Autosuspend over the emulated usbfs and its sysfs, where libusb and the host
// layer find the hub as on a real machine: an update keeps the hub's
// power/control at "on" from its erase to its end, and the port's device has its
// own value again after.
#include <fstream>
#include <string>

#include "EmulatedHubFixture.h"
#include "host/HostHold.h"
#include "tests/support/SilentReporter.h"
#include "workflows/EasyUpdate.h"
#include "workflows/WorkflowContext.h"

namespace velmora::usbfs::testing {
namespace {

std::string powerControl(const std::string& portPath) {
    std::ifstream file(std::string(host::kSysfsRoot) + "/bus/usb/devices/" + portPath + "/power/control");
    std::string value;
    std::getline(file, value);
    return value;
}

host::HostHoldSettings autosuspendOnly() {
    host::HostHoldSettings settings;
    settings.inhibit = false;
    return settings;
}

// The host's hold, with what power/control said inside the span and after it.
class WatchedHold final : public FlashSpanHost {
public:
    bool enterSpan(const std::string& portPath) override {
        const bool entered = hold_.enterSpan(portPath);
        during = powerControl(portPath);
        return entered;
    }
    void leaveSpan(const std::string& portPath) override {
        hold_.leaveSpan(portPath);
        after = powerControl(portPath);
    }

    std::string during;
    std::string after;

private:
    host::HostHold hold_{autosuspendOnly()};
};

class AutosuspendOverUsbfsTest : public EmulatedHubTest {};

TEST_F(AutosuspendOverUsbfsTest, IsOffFromTheEraseToTheEndOfAnUpdate) {
    addHub(1);
    startLibusb();
    ASSERT_EQ(powerControl(testPortPath(1)), "auto");
    WatchedHold hold;
    connection_->setFlashSpanHost(&hold);
    FirmwareBuffer image;
    const std::vector<std::uint8_t> bytes = sampleImage(0x0203);
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    velmora::testing::SilentReporter reporter;
    ASSERT_TRUE(updateFunc(WorkflowContext{reporter, *connection_, nullptr}, image, "fw.bin"));
    EXPECT_EQ(hold.during, "on");
    EXPECT_EQ(hold.after, "auto");
}

}  // namespace
}  // namespace velmora::usbfs::testing
