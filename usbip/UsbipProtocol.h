#pragma once
// The USB/IP wire format between the kernel's virtual host controller (vhci-hcd)
// and a device server: 48-byte headers in network byte order, the data stage of
// a host-to-device transfer after a submit, that of a device-to-host transfer
// after its reply. Only what a device with nothing but endpoint 0 meets is here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/UsbPlatform.h"

namespace velmora::usbip {

inline constexpr std::size_t kHeaderBytes = 48;
using HeaderBytes = std::array<std::uint8_t, kHeaderBytes>;

enum class Command : std::uint32_t {
    Submit = 1,
    Unlink = 2,
    SubmitReply = 3,
    UnlinkReply = 4,
};

// The largest data stage a control transfer can have (wLength is 16 bits).
inline constexpr std::int32_t kLargestTransfer = 0xFFFF;

struct Submit {
    std::uint32_t seqnum = 0;
    std::uint32_t endpoint = 0;
    bool deviceToHost = false;
    std::int32_t transferLength = 0;
    UsbSetup setup;
};

struct Unlink {
    std::uint32_t seqnum = 0;
    std::uint32_t victim = 0;  // the seqnum of the submit to take back
};

struct Request {
    Command command = Command::Submit;
    Submit submit;
    Unlink unlink;
};

// A header from the host, or nothing when it is not a submit or an unlink, or
// its length cannot be a control transfer's (a peer that sends that is broken).
std::optional<Request> parseRequest(const HeaderBytes& bytes);

// status is 0 or a negative errno, as the kernel gives it to the URB.
HeaderBytes submitReply(std::uint32_t seqnum, std::int32_t status, std::int32_t actualLength);
HeaderBytes unlinkReply(std::uint32_t seqnum, std::int32_t status);

}  // namespace velmora::usbip
