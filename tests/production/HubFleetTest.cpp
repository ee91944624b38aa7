// Eight hubs updated at once on the simulated bus, in virtual time: one hub's
// failure, disconnect or slow restart never stops, slows or misdirects another's
// run, and every reopen after a reset reaches the hub that was reset.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/simulated/HubFaults.h"
#include "firmware/FirmwareBuffer.h"
#include "production/HubFleet.h"
#include "tests/support/HubRig.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/EasyUpdate.h"

namespace velmora::testing {
namespace {

using sim::RequestKind;

constexpr std::uint16_t kOldVersion = 0x0102;
constexpr std::uint16_t kNewVersion = 0x0203;
constexpr std::size_t kImageBytes = 16384;
const std::string kUpdateSuccess = "Update FW Success\n";
const std::string kUpdateFail = "Update FW Fail\n";

// Hubs of realistic timing on the bus, and the fleet that updates them.
struct FleetRig {
    FleetRig() {
        const std::vector<std::uint8_t> bytes = hubs_.sampleImage(kImageBytes, kNewVersion);
        FW_Parse(image_, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }

    sim::SimulatedHub& addHub(const std::string& port, Milliseconds rebootTime = sim::kDefaultRebootTime) {
        RigHubOptions options;
        options.portPath = port;
        options.rebootTime = rebootTime;
        options.imageVersion = kOldVersion;
        options.flashTiming = sim::kRealisticFlashTiming;
        sim::SimulatedHub& hub = hubs_.addHub(options);
        ports_.push_back(port);
        return hub;
    }

    void addEightHubs() {
        for (int port = 1; port <= 8; ++port) addHub("1-" + std::to_string(port));
    }

    std::vector<HubRunResult> updateAll() {
        reporters_.clear();
        for (std::size_t index = 0; index < ports_.size(); ++index)
            reporters_.push_back(std::make_unique<RecordingReporter>());
        const HubFleet fleet{
            hubs_.clock,
            [this](const std::string& port) {
                return std::make_unique<HubConnection>(platform_, hubs_.table, hubs_.clock, port);
            },
            [this](std::size_t index) -> WorkflowReporter& { return *reporters_[index]; }, nullptr};
        return runOnHubs(fleet, ports_, [this](const WorkflowContext& context) {
            return updateFunc(context, image_, "new.bin");
        });
    }

    // How long one healthy hub's update takes when it is the only one.
    static Milliseconds aloneDuration() {
        FleetRig alone;
        alone.addHub("1-1");
        return alone.updateAll().at(0).duration;
    }

    SimulatedHubs hubs_;
    sim::SimulatedUsbPlatform platform_{hubs_.bus};
    std::vector<std::string> ports_;
    std::vector<std::unique_ptr<RecordingReporter>> reporters_;
    FirmwareBuffer image_;
};

struct FailureRow {
    const char* name;
    const char* message;  // the red line before "Update FW Fail"
    void (*inject)(sim::SimulatedHub& hub);
};

void addFault(sim::SimulatedHub& hub, void (*change)(sim::HubFaults&)) {
    sim::HubFaults faults = hub.faults();
    change(faults);
    hub.setFaults(faults);
}

const FailureRow kFailureRows[] = {
    {"open", "Fail To Open Rom Device\nPlease Load Driver firstly\nThen replugin usb hub device\n",
     [](sim::SimulatedHub& hub) { addFault(hub, [](sim::HubFaults& f) { f.heldByAnotherDriver = true; }); }},
    {"erase", "Fail to Erase Flash\n",
     [](sim::SimulatedHub& hub) { SimulatedHubs::failNext(hub, RequestKind::EraseFlash, 3); }},
    {"write", "Fail to Write Flash\n",
     [](sim::SimulatedHub& hub) { SimulatedHubs::failNext(hub, RequestKind::WriteFlash, 1); }},
    {"read", "Fail to Read Flash\n",
     [](sim::SimulatedHub& hub) {
         SimulatedHubs::failNext(hub, RequestKind::ReadFlash, 1, sim::Outcome::TimedOut);
     }},
    {"verify", "Fail to verify flash\n",
     [](sim::SimulatedHub& hub) { addFault(hub, [](sim::HubFaults& f) { f.corruptReadAddress = 0x1001; }); }},
    {"reset", "Fail to Reset to Flash Code\n",
     [](sim::SimulatedHub& hub) { SimulatedHubs::failNext(hub, RequestKind::ResetToFlashCode, 3); }},
};

TEST(HubFleetTest, OneHubFailingInEachRowLeavesTheOtherSevenUpdatedOnTime) {
    const Milliseconds alone = FleetRig::aloneDuration();
    for (std::size_t row = 0; row < std::size(kFailureRows); ++row) {
        const FailureRow& failure = kFailureRows[row];
        SCOPED_TRACE(failure.name);
        FleetRig fleet;
        fleet.addEightHubs();
        const std::size_t failing = row % 8;  // a different position in each row
        failure.inject(*fleet.hubs_.bus.hubs()[failing]);

        const std::vector<HubRunResult> results = fleet.updateAll();

        for (std::size_t index = 0; index < results.size(); ++index) {
            SCOPED_TRACE(fleet.ports_[index]);
            const std::string& pane = fleet.reporters_[index]->pane;
            EXPECT_EQ(results[index].portPath, fleet.ports_[index]);
            if (index == failing) {
                EXPECT_FALSE(results[index].succeeded);
                EXPECT_NE(pane.find(std::string(failure.message) + kUpdateFail), std::string::npos) << pane;
            } else {
                EXPECT_TRUE(results[index].succeeded);
                EXPECT_EQ(pane.substr(pane.size() - kUpdateSuccess.size()), kUpdateSuccess);
                EXPECT_EQ(fleet.hubs_.bus.hubs()[index]->imageVersion(), kNewVersion);
                EXPECT_EQ(runningVersion(results[index].statusBefore), kOldVersion);
                EXPECT_EQ(runningVersion(results[index].statusAfter), kNewVersion);
                // In parallel, yet as fast as alone: no worker's waits pushed another's on.
                EXPECT_EQ(results[index].duration, alone);
            }
        }
    }
}

TEST(HubFleetTest, HubUnpluggedMidRunFailsAloneAndTheOthersFinish) {
    FleetRig rig;
    rig.addEightHubs();
    sim::SimulatedHub& unplugged = *rig.hubs_.bus.hubs()[2];
    addFault(unplugged, [](sim::HubFaults& f) {
        f.disconnect = sim::DisconnectFault{RequestKind::WriteFlash, 2, false};
    });

    const std::vector<HubRunResult> results = rig.updateAll();

    EXPECT_FALSE(results[2].succeeded);
    EXPECT_EQ(results[2].statusAfter, std::nullopt);  // gone for good
    EXPECT_NE(rig.reporters_[2]->pane.find("Fail to Write Flash\n" + kUpdateFail), std::string::npos);
    EXPECT_FALSE(rig.hubs_.bus.isPortClaimed("1-3"));
    for (std::size_t index : {0u, 1u, 3u, 4u, 5u, 6u, 7u}) {
        EXPECT_TRUE(results[index].succeeded) << rig.ports_[index];
        EXPECT_EQ(runningVersion(results[index].statusAfter), kNewVersion) << rig.ports_[index];
    }
}

// The requests one hub sees in a whole run, version reads included: nothing of
// another hub's run ever reaches it, and its own reopens all reach it.
std::vector<RequestKind> oneHubsConversation(std::size_t chunks) {
    std::vector<RequestKind> kinds{
        RequestKind::OpenHandshake, RequestKind::ReadStatus,      // version before
        RequestKind::OpenHandshake, RequestKind::ReadStatus,      // in flash code
        RequestKind::ReadStatus,    RequestKind::ResetToRomCode,  // wait selector, reset
        RequestKind::OpenHandshake, RequestKind::ReadStatus,      // back in ROM code
        RequestKind::EraseFlash};
    kinds.insert(kinds.end(), chunks, RequestKind::WriteFlash);
    kinds.insert(kinds.end(), chunks, RequestKind::ReadFlash);
    for (RequestKind kind :
         {RequestKind::ResetToFlashCode, RequestKind::OpenHandshake,
          // the serial number it now reports: device descriptor, string length, string
          RequestKind::GetDescriptor, RequestKind::GetDescriptor, RequestKind::GetDescriptor,
          // the run's closing status read, then the version after
          RequestKind::ReadStatus, RequestKind::OpenHandshake, RequestKind::ReadStatus})
        kinds.push_back(kind);
    return kinds;
}

std::vector<RequestKind> kindsSeenBy(const sim::SimulatedHub& hub) {
    std::vector<RequestKind> kinds;
    for (const sim::RecordedRequest& request : hub.requests())
        kinds.push_back(sim::classifyRequest(request.setup));
    return kinds;
}

// Reboot times from 3 s down to 0.2 s: hubs reset in one order and come back in
// the reverse one, some resetting into their firmware while others are still
// away after their reset into ROM code.
TEST(HubFleetTest, ResetsThatInterleaveEachReopenOnlyTheirOwnHub) {
    FleetRig rig;
    const Milliseconds reboots[] = {Milliseconds{3000}, Milliseconds{200},  Milliseconds{1700},
                                    Milliseconds{400},  Milliseconds{2600}, Milliseconds{900},
                                    Milliseconds{1200}, Milliseconds{2100}};
    for (int port = 1; port <= 8; ++port) rig.addHub("1-" + std::to_string(port), reboots[port - 1]);

    const std::vector<HubRunResult> results = rig.updateAll();

    const std::size_t chunks = kImageBytes / 4096;
    for (std::size_t index = 0; index < results.size(); ++index) {
        SCOPED_TRACE(rig.ports_[index]);
        EXPECT_TRUE(results[index].succeeded) << rig.reporters_[index]->pane;
        EXPECT_EQ(kindsSeenBy(*rig.hubs_.bus.hubs()[index]), oneHubsConversation(chunks));
        EXPECT_EQ(rig.hubs_.bus.hubs()[index]->imageVersion(), kNewVersion);
        EXPECT_FALSE(rig.hubs_.bus.isPortClaimed(rig.ports_[index]));
    }
    // The slowest hub sets the pace; the quickest is done long before it.
    EXPECT_LT(results[1].duration + Milliseconds{5000}, results[0].duration);
}

}  // namespace
}  // namespace velmora::testing
