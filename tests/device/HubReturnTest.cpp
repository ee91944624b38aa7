// The wait for a hub that restarts: it ends once the platform reports the hub
// back on its port, and never later, nor with another outcome, than the fixed
// poll schedule it replaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/FlashOperations.h"
#include "device/simulated/SimulationScenarios.h"
#include "firmware/FirmwareBuffer.h"
#include "tests/support/FixedWaitPlatform.h"
#include "tests/support/HookClock.h"
#include "tests/support/HubRig.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/EasyUpdate.h"

namespace velmora::testing {
namespace {

using Wire = std::array<std::uint8_t, 8>;
constexpr Wire kHandshake = {0x40, 0x02, 0x01, 0x00, 0x7A, 0x2E, 0x00, 0x00};
constexpr Wire kStatusRead = {0xC0, 0x09, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00};
constexpr Wire kResetToRom = {0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

class WaitRecorder : public RecordingReporter {
public:
    void showWait(const std::string& text, double) override { texts.push_back(text); }
    void endWait() override { texts.push_back("end"); }
    std::vector<std::string> texts;
};

struct UpdateRun {
    bool succeeded = false;
    std::string pane;
    Milliseconds took{0};
    std::vector<std::string> waits;
};

// One update of the sample image on a bus set up as the scenario says.
UpdateRun updateOnScenario(std::string_view scenario, bool fixedWaits) {
    SimulatedHubs hubs;
    sim::applySimulationScenario(scenario, hubs.bus, hubs.table.entry(0));
    sim::SimulatedUsbPlatform simulated(hubs.bus);
    FixedWaitPlatform fixed(simulated);
    UsbPlatform& platform = fixedWaits ? static_cast<UsbPlatform&>(fixed) : simulated;
    HubConnection connection(platform, hubs.table, hubs.clock);
    const std::vector<std::uint8_t> bytes = hubs.sampleImage(16384, 0x0203);
    FirmwareBuffer image;
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    WaitRecorder waits;
    UpdateRun run;
    run.succeeded = updateFunc({waits, connection}, image, "new.bin");
    run.pane = waits.pane;
    run.took = hubs.clock.now();
    run.waits = waits.texts;
    return run;
}

TEST(HubReturnTest, EveryScenarioEndsAsWithFixedWaitsAndNoLater) {
    for (const sim::SimulationScenario& scenario : sim::simulationScenarios()) {
        SCOPED_TRACE(std::string(scenario.name));
        const UpdateRun onArrival = updateOnScenario(scenario.name, false);
        const UpdateRun fixed = updateOnScenario(scenario.name, true);
        EXPECT_EQ(onArrival.succeeded, fixed.succeeded);
        EXPECT_EQ(onArrival.pane, fixed.pane);
        EXPECT_LE(onArrival.took, fixed.took);
    }
}

// flash-code: the hub restarts twice in 1.5 s each; the fixed waits poll after 2 s.
TEST(HubReturnTest, AnUpdateSavesWhatTheFixedPollsWaitedTooLong) {
    const UpdateRun onArrival = updateOnScenario("flash-code", false);
    const UpdateRun fixed = updateOnScenario("flash-code", true);
    ASSERT_TRUE(onArrival.succeeded);
    const Milliseconds saved =
        2 * (flash::kReopenPollInterval - sim::kDefaultRebootTime - flash::kArrivalSettleTime);
    EXPECT_EQ(fixed.took - onArrival.took, saved);
    // The waits were told (in virtual time only when the hub came back), into ROM code first.
    ASSERT_FALSE(onArrival.waits.empty());
    EXPECT_EQ(onArrival.waits.front(), "waiting for the hub to restart into its ROM code... 1.5 s");
    EXPECT_EQ(onArrival.waits.back(), "end");
    EXPECT_NE(std::find(onArrival.waits.begin(), onArrival.waits.end(),
                        "waiting for the hub to restart into its firmware... 1.5 s"),
              onArrival.waits.end());
}

// Opened the moment it is back, a hub may not answer its status yet: it is polled
// again at the scheduled time instead of being taken for a hub in the wrong code.
TEST(HubReturnTest, HubWhoseStatusCannotBeReadOnArrivalIsPolledAgain) {
    HubRig rig;
    sim::SimulatedHub& hub = rig.addHub();
    HookClock clock(rig.clock);
    HubConnection connection(rig.platform, rig.table, clock);
    clock.afterSleep(flash::kArrivalSettleTime,
                     [&] { SimulatedHubs::failNext(hub, sim::RequestKind::ReadStatus, 1); });
    EXPECT_TRUE(FL_OpenRomDevice(connection));
    EXPECT_EQ(hub.runState(), sim::RunState::RomCode);
    EXPECT_EQ(SimulatedHubs::wireOf(hub),
              (std::vector<Wire>{kHandshake, kStatusRead, kStatusRead, kResetToRom, kHandshake, kStatusRead,
                                 kHandshake, kStatusRead}));
    EXPECT_EQ(rig.clock.now(), flash::kReopenPollInterval);
}

// A listing that lags behind the bus, as a busy kernel's does: for lag after a hub
// left, the device it left as is still listed in its place and no arrival is
// seen. That device, opened, still reaches the hub for its first two requests (a
// virtual host controller hands them to whatever is on its port now), and then
// the kernel removes it.
class LaggingPlatform final : public UsbPlatform {
public:
    LaggingPlatform(sim::SimulatedUsbPlatform& inner, sim::SimulatedHub& hub, Clock& clock, Milliseconds lag)
        : inner_(inner), hub_(hub), clock_(clock), lag_(lag) {}

    std::vector<UsbDeviceInfo> listDevices() override {
        std::vector<UsbDeviceInfo> devices = inner_.listDevices();
        const bool listed = !devices.empty() && devices.front().platformKey == last_.platformKey;
        if (!last_.platformKey.empty() && !listed && !left_) left_ = clock_.now();
        if (left_ && clock_.now() < *left_ + lag_) return {last_};
        left_.reset();
        if (!devices.empty()) last_ = devices.front();
        return devices;
    }
    OpenResult openDevice(const UsbDeviceInfo& device) override {
        if (!left_ || device.platformKey != last_.platformKey) return inner_.openDevice(device);
        return {std::make_unique<LeftDevice>(hub_), kIOReturnSuccess};
    }
    bool setHotplugCallback(HotplugCallback callback) override {
        return inner_.setHotplugCallback(std::move(callback));
    }
    void pollEvents(std::chrono::milliseconds timeout) override { inner_.pollEvents(timeout); }

private:
    class LeftDevice final : public UsbDevice {
    public:
        explicit LeftDevice(sim::SimulatedHub& hub) : hub_(hub) {}
        IOReturn controlRequest(const UsbSetup& setup, std::uint8_t* data, Milliseconds) override {
            if (++requests_ > 2) return kIOReturnNoDevice;
            return sim::toIOReturn(hub_.handleControl(setup, data).outcome);
        }

    private:
        sim::SimulatedHub& hub_;
        int requests_ = 0;
    };

    sim::SimulatedUsbPlatform& inner_;
    sim::SimulatedHub& hub_;
    Clock& clock_;
    Milliseconds lag_;
    UsbDeviceInfo last_;
    std::optional<Milliseconds> left_;
};

// The reopen after a reset never takes the device the hub left as: it waits until
// the listing shows the hub's new enumeration, and the update goes through.
TEST(HubReturnTest, TheDeviceAHubLeftAsIsNotTakenForTheHubBack) {
    HubRig rig;
    sim::SimulatedHub& hub = rig.addHub();
    LaggingPlatform lagging(rig.platform, hub, rig.clock, flash::kReopenPollInterval + Milliseconds{500});
    HubConnection connection(lagging, rig.table, rig.clock);
    const std::vector<std::uint8_t> bytes = rig.sampleImage(16384, 0x0203);
    FirmwareBuffer image;
    FW_Parse(image, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    RecordingReporter reporter;
    EXPECT_TRUE(updateFunc({reporter, connection}, image, "new.bin")) << reporter.pane;
    EXPECT_EQ(hub.imageVersion(), std::uint16_t{0x0203});
}

}  // namespace
}  // namespace velmora::testing
