// Any bytes as the packets of a usbmon capture (the first byte picks the header
// size, then each packet is a two-byte little-endian length and its bytes): the
// import of a capture a user took elsewhere either refuses it with a reason or
// gives a recording whose exchanges are numbered in order, whose transfers hold
// the bytes their setup asks for, and which writes and reads back whole.
#include <string>
#include <vector>

#include "device/recording/RecordingFile.h"
#include "device/recording/UsbmonImport.h"
#include "fuzz/FuzzSupport.h"

using velmora::fuzz::check;
namespace recording = velmora::recording;

namespace {

std::vector<recording::CapturedPacket> packetsOf(const std::uint8_t* data, std::size_t size) {
    std::vector<recording::CapturedPacket> packets;
    std::size_t at = 1;
    std::int64_t time = 0;
    while (at + 2 <= size) {
        const std::size_t length = data[at] | static_cast<std::size_t>(data[at + 1]) << 8;
        at += 2;
        const std::size_t taken = std::min(length, size - at);
        packets.push_back({time += 125, std::vector<std::uint8_t>(data + at, data + at + taken)});
        at += taken;
    }
    return packets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int linkType =
        data[0] % 2 == 0 ? recording::kLinkTypeUsbLinuxMmapped : recording::kLinkTypeUsbLinux;
    recording::Recording imported;
    std::string error;
    if (!recording::importUsbmonPackets(linkType, packetsOf(data, size), {0x2FE3, 0x0611}, imported, error)) {
        check(!error.empty(), "a capture refused without a reason");
        return 0;
    }
    std::string text = recording::headerLine(imported.header) + '\n';
    for (std::size_t index = 0; index < imported.exchanges.size(); ++index) {
        const recording::Exchange& exchange = imported.exchanges[index];
        check(exchange.number == index + 1, "exchanges out of order");
        if (exchange.kind == recording::ExchangeKind::Control)
            check(exchange.data.size() == exchange.setup.wLength, "a transfer's bytes are not its length");
        text += recording::exchangeLine(exchange) + '\n';
    }
    recording::Recording again;
    check(recording::parseRecording(text, again, error), "an imported recording does not read back");
    check(again.exchanges.size() == imported.exchanges.size(), "exchanges lost reading back");
    return 0;
}
