// Captures of the kernel's USB monitor turned into recordings: a capture made of a
// recorded update, written as a capture tool writes it, imports into a recording
// that replays the same update.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fstream>

#include "device/recording/ReplayPlatform.h"
#include "device/recording/UsbmonImport.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "tests/recording/ReplayRun.h"
#include "tests/recording/UsbmonCapture.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::recording {
namespace {

class UsbmonImportTest : public ::testing::TestWithParam<std::string> {};

TEST_P(UsbmonImportTest, AnImportedCaptureOfAnUpdateReplaysIt) {
    testing::ScratchFolder folder;
    if (!canReadCaptures()) GTEST_SKIP() << "built without libpcap";
    const FirmwareBuffer image = sampleBuffer();
    const RunOutcome recorded = recordUpdate(GetParam(), folder.path("run.jsonl"), image);
    const std::string capture = writePcap(folder, captureOf(load(folder.path("run.jsonl"))));

    int linkType = 0;
    std::vector<CapturedPacket> packets;
    std::string error;
    ASSERT_TRUE(readCapture(capture, linkType, packets, error)) << error;
    EXPECT_EQ(linkType, kLinkTypeUsbLinuxMmapped);
    Recording imported;
    ASSERT_TRUE(importUsbmonPackets(linkType, packets, {}, imported, error)) << error;

    VirtualClock clock;
    ReplayPlatform replay(imported, clock);
    const RunOutcome replayed = runUpdate(replay, clock, image);
    EXPECT_EQ(replay.divergence(), std::nullopt);
    EXPECT_EQ(replayed.succeeded, recorded.succeeded);
    EXPECT_EQ(replayed.events, recorded.events);
    EXPECT_EQ(replayed.trace, recorded.trace);
}

// A hub held unconfigured by Brennic: after each reset the kernel reads its
// descriptors (configuration and strings too) and never configures it. Those
// reads are left out; the program's own read of the device descriptor after the
// update is kept.
TEST(UsbmonImportEnumerationTest, TheKernelsReadsOfAHeldHubAreLeftOut) {
    testing::ScratchFolder folder;
    const FirmwareBuffer image = sampleBuffer();
    const RunOutcome recorded = recordUpdate("flash-code", folder.path("run.jsonl"), image);
    const Recording original = load(folder.path("run.jsonl"));
    Recording imported;
    std::string error;
    ASSERT_TRUE(importUsbmonPackets(kLinkTypeUsbLinuxMmapped,
                                    captureOf(original, Enumeration::HeldUnconfigured), {}, imported, error))
        << error;
    auto controls = [](const Recording& recording) {
        std::vector<std::array<std::uint8_t, 8>> setups;
        for (const Exchange& exchange : recording.exchanges)
            if (exchange.kind == ExchangeKind::Control) setups.push_back(exchange.setup.wireBytes());
        return setups;
    };
    EXPECT_EQ(controls(imported), controls(original));

    VirtualClock clock;
    ReplayPlatform replay(imported, clock);
    const RunOutcome replayed = runUpdate(replay, clock, image);
    EXPECT_EQ(replay.divergence(), std::nullopt);
    EXPECT_EQ(replayed.events, recorded.events);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, UsbmonImportTest,
                         ::testing::Values("flash-code", "rom-code", "stall-write", "corrupt-readback"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(UsbmonImportRefusalTest, WhatIsNoUsbmonCaptureIsRefused) {
    Recording recording;
    std::string error;
    EXPECT_FALSE(importUsbmonPackets(1, {}, {}, recording, error));  // Ethernet
    EXPECT_NE(error.find("no usbmon capture"), std::string::npos) << error;
    EXPECT_FALSE(importUsbmonPackets(kLinkTypeUsbLinux, {{0, std::vector<std::uint8_t>(10, 0)}}, {},
                                     recording, error));
    if (!canReadCaptures()) GTEST_SKIP() << "built without libpcap";
    int linkType = 0;
    std::vector<CapturedPacket> packets;
    testing::ScratchFolder folder;
    EXPECT_FALSE(readCapture(folder.write("junk.pcap", {1, 2, 3}), linkType, packets, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace velmora::recording
