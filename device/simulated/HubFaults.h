#pragma once
// Faults the simulated hub can be told to show, so tests and the command line's
// simulation can make the device misbehave in the ways real hubs do.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/UsbPlatform.h"

namespace velmora::sim {

enum class RequestKind {
    OpenHandshake,
    ReadStatus,
    ResetToRomCode,
    ResetToFlashCode,
    EraseFlash,
    WriteFlash,
    ReadFlash,
    GetDescriptor,  // the standard request: the device descriptor and the strings
    Other,
};
RequestKind classifyRequest(const UsbSetup& setup);
std::string_view requestKindName(RequestKind kind);

// How a transfer ends.
enum class Outcome { Completed, Stalled, TimedOut, NoDevice };

// The next count requests of this kind fail with this outcome.
struct RequestFailure {
    RequestKind kind = RequestKind::Other;
    int count = 0;
    Outcome outcome = Outcome::Stalled;
};

// The hub drops off the bus while it handles the transfer number onTransfer
// (counted from 1) of this kind; it comes back after its reboot time, powered up
// afresh, unless comesBack is false.
struct DisconnectFault {
    RequestKind kind = RequestKind::WriteFlash;
    int onTransfer = 1;
    bool comesBack = true;
};

// The next count device-to-host requests of this kind complete with only the first
// half of their data stage, as a hub that stops sending early does; the rest of
// the caller's buffer is left as it was.
struct ShortAnswer {
    RequestKind kind = RequestKind::ReadFlash;
    int count = 0;
};

struct HubFaults {
    std::vector<RequestFailure> failures;
    std::vector<ShortAnswer> shortAnswers;
    bool neverReturnsAfterReset = false;
    bool returnsInWrongCode = false;                  // a reset lands in the other code than asked for
    std::optional<std::uint32_t> corruptReadAddress;  // this flash byte reads back inverted
    bool heldByAnotherDriver = false;                 // every open is refused
    std::optional<DisconnectFault> disconnect;
    // The power goes right after the hub has answered its request number N
    // (counted from 1 since these faults were set, every kind together); see
    // SimulatedHub::cutPowerLocked for where the hub comes back.
    std::optional<int> powerCutAfterRequest;
    // The same, counting only the requests that change the flash: erase and
    // program requests (the command line's --simulate=power-cut-after:N).
    std::optional<int> powerCutAfterFlashRequest;
    // The flash code reports this serial number whatever its image says, as a
    // firmware that ignores the block's strings would.
    std::optional<std::string> reportedSerial;
};

}  // namespace velmora::sim
