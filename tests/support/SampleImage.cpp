#include "tests/support/SampleImage.h"

#include <algorithm>

#include "device/simulated/SampleImage.h"

namespace velmora::testing {

std::vector<std::uint8_t> makeImage(std::size_t size, std::size_t blockPosition,
                                    std::array<std::uint8_t, 2> signature) {
    std::vector<std::uint8_t> bytes(size, 0);
    if (blockPosition + 1 < size) {
        bytes[blockPosition] = signature[0];
        bytes[blockPosition + 1] = signature[1];
    }
    return bytes;
}

void putWord(std::vector<std::uint8_t>& bytes, std::size_t position, std::uint16_t value) {
    bytes.at(position) = static_cast<std::uint8_t>(value >> 8);
    bytes.at(position + 1) = static_cast<std::uint8_t>(value & 0xFF);
}

void putStringArea(std::vector<std::uint8_t>& bytes, std::size_t blockPosition,
                   const std::vector<std::uint8_t>& areaBytes) {
    const std::size_t area = blockPosition + image::kStringsOffset;
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(area), image::kStringsLength, 0);
    for (std::size_t index = 0; index < areaBytes.size() && index < image::kStringsLength; ++index)
        bytes.at(area + index) = areaBytes[index];
}

std::vector<std::uint8_t> makeShippedSampleImage() {
    sim::SampleImageLayout layout;
    layout.size = 32768;
    layout.vendorId = 0x2FE3;
    layout.superSpeedProductId = 0x0611;
    layout.highSpeedProductId = 0x0610;
    layout.version = 0x0102;
    // The three strings share 29 bytes, so the product name is the short one.
    layout.manufacturer = "Velmora Labs";
    layout.product = "Zelo Sim";
    layout.serial = "SIM0001";
    layout.containerId = {0x5a, 0x31, 0x8c, 0x02, 0x4e, 0x77, 0x41, 0x9b,
                          0xa1, 0x6d, 0x20, 0x3f, 0xc4, 0x58, 0x90, 0x0e};
    // SSC on at -0.25% and 31.5 kHz; over-current protection and U1 on, U1 after
    // 2 us; 3 ports, self powered, board revision 18; PHY settings.
    layout.settings = {
        {96, 0x01},  {97, 0x10},  {100, 0x03}, {101, 0x01}, {104, 0x06},
        {105, 0x12}, {110, 0x02}, {111, 0x10}, {120, 0x02}, {130, 0x04},
    };
    return sim::makeSampleImage(layout);
}

}  // namespace velmora::testing
