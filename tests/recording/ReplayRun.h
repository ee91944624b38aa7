#pragma once
// Runs of the easy update for the recording tests: over any platform, recorded
// into a file over a simulated scenario, and what each showed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/recording/RecordingPlatform.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "firmware/FirmwareBuffer.h"
#include "tests/support/HubRig.h"
#include "tests/workflows/RecordingReporter.h"
#include "workflows/EasyUpdate.h"

namespace velmora::recording {

using testing::kShippedHubIdentity;

struct RunOutcome {
    bool succeeded = false;
    std::vector<std::string> events;  // the pane's calls, in order
    std::vector<std::string> trace;   // formatTraceLine of every request
    Milliseconds endedAt{0};
};

inline SupportedDeviceTable shippedTable() {
    SupportedDeviceTable table;
    table.set(0, kShippedHubIdentity.vid, kShippedHubIdentity.sspid, kShippedHubIdentity.hspid);
    return table;
}

inline FirmwareBuffer sampleBuffer(std::uint16_t version = 0x0203) {
    const std::vector<std::uint8_t> bytes = testing::sampleImageFor(kShippedHubIdentity, 8192, version);
    FirmwareBuffer buffer;
    FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return buffer;
}

inline RunOutcome runUpdate(UsbPlatform& platform, Clock& clock, const FirmwareBuffer& image) {
    const SupportedDeviceTable table = shippedTable();
    HubConnection connection(platform, table, clock);
    RunOutcome outcome;
    connection.setRequestObserver([&outcome](const UsbSetup& setup, IOReturn status) {
        outcome.trace.push_back(formatTraceLine(setup, status));
    });
    testing::RecordingReporter reporter;
    outcome.succeeded = updateFunc(WorkflowContext{reporter, connection, nullptr}, image, "new.bin");
    outcome.events = reporter.events;
    outcome.endedAt = clock.now();
    return outcome;
}

inline RecordingHeader testHeader() {
    RecordingHeader header;
    header.program = "recording_tests";
    header.command = {"update", "new.bin"};
    header.table = {{kShippedHubIdentity.vid, kShippedHubIdentity.sspid, kShippedHubIdentity.hspid}};
    return header;
}

// Runs the easy update on the scenario's bus, recorded into path.
inline RunOutcome recordUpdate(const std::string& scenario, const std::string& path,
                               const FirmwareBuffer& image) {
    VirtualClock clock;
    auto environment = sim::SimulatedEnvironment::create(shippedTable(), clock, scenario);
    EXPECT_NE(environment, nullptr);
    std::string error;
    auto writer = RecordingWriter::create(path, testHeader(), error);
    EXPECT_NE(writer, nullptr) << error;
    RecordingPlatform platform(environment->platform(), clock, *writer);
    return runUpdate(platform, clock, image);
}

inline Recording load(const std::string& path) {
    Recording recording;
    std::string error;
    EXPECT_TRUE(readRecording(path, recording, error)) << error;
    return recording;
}

}  // namespace velmora::recording
