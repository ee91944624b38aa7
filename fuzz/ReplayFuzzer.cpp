// Any bytes as a recording handed in with a bug report: it is read or refused with
// a reason; what is read writes back and reads again unchanged; and an update of
// the sample image replays from it, in virtual time, to its end.
#include <string>

#include "app/SupportedDeviceTable.h"
#include "device/Clock.h"
#include "device/HubConnection.h"
#include "device/recording/RecordingFile.h"
#include "device/recording/ReplayPlatform.h"
#include "firmware/FirmwareBuffer.h"
#include "fuzz/FuzzSupport.h"
#include "workflows/EasyUpdate.h"
#include "workflows/WorkflowReporter.h"

using velmora::fuzz::check;
using velmora::fuzz::QuietReporter;
namespace recording = velmora::recording;

namespace {

void checkRoundTrip(const recording::Recording& read) {
    std::string text = recording::headerLine(read.header) + '\n';
    for (const recording::Exchange& exchange : read.exchanges)
        text += recording::exchangeLine(exchange) + '\n';
    recording::Recording again;
    std::string error;
    check(recording::parseRecording(text, again, error), "a recording written back does not read");
    check(again.exchanges.size() == read.exchanges.size(), "exchanges lost writing back");
    check(recording::headerLine(again.header) == recording::headerLine(read.header), "header changed");
    for (std::size_t index = 0; index < read.exchanges.size(); ++index) {
        check(
            recording::exchangeLine(again.exchanges[index]) == recording::exchangeLine(read.exchanges[index]),
            "an exchange changed writing back");
    }
}

const FirmwareBuffer& sampleImage() {
    static const FirmwareBuffer image = [] {
        FirmwareBuffer buffer;
        const std::vector<std::uint8_t>& bytes = velmora::fuzz::shippedSampleImage();
        FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()));
        return buffer;
    }();
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    recording::Recording read;
    std::string error;
    if (!recording::parseRecording(std::string(reinterpret_cast<const char*>(data), size), read, error)) {
        check(!error.empty(), "a recording refused without a reason");
        return 0;
    }
    checkRoundTrip(read);

    velmora::SupportedDeviceTable table;
    std::size_t index = 0;
    for (const recording::RecordedHub& entry : read.header.table) {
        if (index == velmora::SupportedDeviceTable::kEntryCount) break;
        table.set(index++, entry.vid, entry.sspid, entry.hspid);
    }
    velmora::VirtualClock clock;
    recording::ReplayPlatform replay(read, clock);
    velmora::HubConnection connection(replay, table, clock);
    QuietReporter reporter;
    updateFunc(velmora::WorkflowContext{reporter, connection, nullptr}, sampleImage(), "fuzz.bin");
    return 0;
}
