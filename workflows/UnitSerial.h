#pragma once
// A production unit's own serial number: a prefix and a zero-padded number, set
// into the image each unit gets by the identity editor's own rules. The three
// strings share the string area, so a prefix and digit count that leave no room
// beside the image's manufacturer and product are refused before any unit.
#include <cstdint>
#include <optional>
#include <string>

#include "firmware/FirmwareBuffer.h"

namespace velmora {

// The most digits a serial number may have: more could not be counted in 64 bits.
inline constexpr int kMostSerialDigits = 18;

struct SerialFormat {
    std::string prefix;
    int digits = 0;

    // prefix + number, padded with zeros to digits.
    std::string serialOf(std::uint64_t number) const;
    // The last number the digits can show (999 for three).
    std::uint64_t lastNumber() const;
    std::size_t serialBytes() const { return prefix.size() + static_cast<std::size_t>(digits); }
};

// True when a serial of serialBytes bytes fits the image's string area beside its
// manufacturer and product.
bool serialFitsImage(const FirmwareBuffer& image, std::size_t serialBytes);
// Why it does not: "the serial number's N bytes do not fit ..." naming what the
// image's other two strings take.
std::string serialTooLong(const FirmwareBuffer& image, std::size_t serialBytes);

// The image with its serial set; none when it does not fit.
std::optional<FirmwareBuffer> imageWithSerial(const FirmwareBuffer& image, const std::string& serial);

}  // namespace velmora
