#pragma once
// A recording of a run's conversation with the hubs: one header line, then one
// line per exchange with the platform, each a JSON object that stands alone, so a
// run killed half-way leaves a file that reads up to its last whole line.
// docs/recording-format.md describes the lines.
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/UsbPlatform.h"

namespace velmora::recording {

// The format this program writes and the newest it reads.
inline constexpr int kRecordingFormat = 1;

struct RecordedHub {  // one entry of the supported hub table in use
    std::uint16_t vid = 0;
    std::uint16_t sspid = 0;
    std::uint16_t hspid = 0;
};

struct RecordedImage {  // an image the command named
    std::string path;
    std::string sha256;  // lower-case hex
};

struct RecordingHeader {
    int format = kRecordingFormat;
    std::string program;               // "velmora-cli 1.02"
    std::vector<std::string> command;  // the command line, word by word
    std::vector<RecordedHub> table;
    std::vector<RecordedImage> images;
};

enum class ExchangeKind {
    List,      // a device listing
    Claim,     // a claim of a port
    Open,      // an open of a device, with its result
    Control,   // one control transfer
    Close,     // an opened device let go
    Arrivals,  // the count of arrivals seen on a port
    Wait,      // a wait for an arrival on a port
    Watch,     // the hot-plug callback set
    Hotplug,   // an arrival or departure delivered to that callback
    Poll,      // one round of event handling
};

struct Exchange {
    std::uint64_t number = 0;  // from 1, in the order the exchanges ended
    ExchangeKind kind = ExchangeKind::List;
    std::string port;                    // every kind tied to one port
    std::vector<UsbDeviceInfo> devices;  // List
    UsbDeviceInfo device;                // Open, Hotplug
    bool arrived = false;                // Hotplug: an arrival, else a departure
    UsbSetup setup;                      // Control
    std::vector<std::uint8_t> data;      // Control: sent (0x40) or received (0xC0)
    IOReturn status = kIOReturnSuccess;  // Claim, Open, Control
    std::string problem;                 // Claim: the port lock's own words
    std::uint64_t count = 0;             // Arrivals: the count; Wait: the count waited past
    bool result = false;                 // Wait: an arrival came; Watch: the bus can be watched
    Milliseconds at{0};                  // clock time when it began
    Milliseconds took{0};                // how long it took on the clock
};

std::string_view exchangeKindName(ExchangeKind kind);

std::string headerLine(const RecordingHeader& header);
std::string exchangeLine(const Exchange& exchange);

// Reading back one line: first as JSON within the format's limits (false for a
// line that is none, as a kill leaves the last one), then as a header or an
// exchange. A header line of a newer format is refused with words that say so.
bool parseLine(std::string_view line, nlohmann::json& value, std::string& error);
bool headerFromJson(const nlohmann::json& value, RecordingHeader& header, std::string& error);
bool exchangeFromJson(const nlohmann::json& value, Exchange& exchange, std::string& error);

// "ctrl C0 09 00 00 00 00 20 00": the exchange as a divergence line names it.
std::string describeExchange(const Exchange& exchange);

}  // namespace velmora::recording
