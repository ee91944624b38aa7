#include "usbip/UsbipProtocol.h"

namespace velmora::usbip {

namespace {

constexpr std::size_t kCommandOffset = 0;
constexpr std::size_t kSeqnumOffset = 4;
constexpr std::size_t kDirectionOffset = 12;
constexpr std::size_t kEndpointOffset = 16;
// The part after the basic header differs by command.
constexpr std::size_t kTransferLengthOffset = 24;
constexpr std::size_t kSetupOffset = 40;
constexpr std::size_t kUnlinkVictimOffset = 20;
constexpr std::size_t kStatusOffset = 20;
constexpr std::size_t kActualLengthOffset = 24;
constexpr std::uint32_t kDirectionIn = 1;

std::uint32_t bigEndianWord(const HeaderBytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) << 24 |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 8 | static_cast<std::uint32_t>(bytes[offset + 3]);
}

void putBigEndianWord(HeaderBytes& bytes, std::size_t offset, std::uint32_t word) {
    bytes[offset] = static_cast<std::uint8_t>(word >> 24);
    bytes[offset + 1] = static_cast<std::uint8_t>(word >> 16);
    bytes[offset + 2] = static_cast<std::uint8_t>(word >> 8);
    bytes[offset + 3] = static_cast<std::uint8_t>(word);
}

std::uint16_t littleEndianHalf(const HeaderBytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

HeaderBytes replyHeader(Command command, std::uint32_t seqnum) {
    HeaderBytes bytes{};
    putBigEndianWord(bytes, kCommandOffset, static_cast<std::uint32_t>(command));
    putBigEndianWord(bytes, kSeqnumOffset, seqnum);
    return bytes;
}

}  // namespace

std::optional<Request> parseRequest(const HeaderBytes& bytes) {
    Request request;
    const std::uint32_t command = bigEndianWord(bytes, kCommandOffset);
    const std::uint32_t seqnum = bigEndianWord(bytes, kSeqnumOffset);
    if (command == static_cast<std::uint32_t>(Command::Unlink)) {
        request.command = Command::Unlink;
        request.unlink = {seqnum, bigEndianWord(bytes, kUnlinkVictimOffset)};
        return request;
    }
    if (command != static_cast<std::uint32_t>(Command::Submit)) return std::nullopt;
    Submit& submit = request.submit;
    submit.seqnum = seqnum;
    submit.endpoint = bigEndianWord(bytes, kEndpointOffset);
    submit.deviceToHost = bigEndianWord(bytes, kDirectionOffset) == kDirectionIn;
    submit.transferLength = static_cast<std::int32_t>(bigEndianWord(bytes, kTransferLengthOffset));
    if (submit.transferLength < 0 || submit.transferLength > kLargestTransfer) return std::nullopt;
    submit.setup.bmRequestType = bytes[kSetupOffset];
    submit.setup.bRequest = bytes[kSetupOffset + 1];
    submit.setup.wValue = littleEndianHalf(bytes, kSetupOffset + 2);
    submit.setup.wIndex = littleEndianHalf(bytes, kSetupOffset + 4);
    submit.setup.wLength = littleEndianHalf(bytes, kSetupOffset + 6);
    return request;
}

HeaderBytes submitReply(std::uint32_t seqnum, std::int32_t status, std::int32_t actualLength) {
    HeaderBytes bytes = replyHeader(Command::SubmitReply, seqnum);
    putBigEndianWord(bytes, kStatusOffset, static_cast<std::uint32_t>(status));
    putBigEndianWord(bytes, kActualLengthOffset, static_cast<std::uint32_t>(actualLength));
    return bytes;
}

HeaderBytes unlinkReply(std::uint32_t seqnum, std::int32_t status) {
    HeaderBytes bytes = replyHeader(Command::UnlinkReply, seqnum);
    putBigEndianWord(bytes, kStatusOffset, static_cast<std::uint32_t>(status));
    return bytes;
}

}  // namespace velmora::usbip
