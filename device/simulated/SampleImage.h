#pragma once
// A small valid firmware image for the simulated hub: a configuration block with
// the hub's identity at 256 bytes before its end, the version seven bytes before
// the block, and filler standing in for code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::sim {

struct SampleImageLayout {
    std::uint16_t vendorId = 0;
    std::uint16_t superSpeedProductId = 0;
    std::uint16_t highSpeedProductId = 0;
    std::uint16_t version = 0x0102;
    std::size_t size = 8192;  // rounded up to whole 256-byte blocks
    std::string manufacturer = "Norvex";
    std::string product = "Zelo Hub";
    std::string serial = "000000000001";
};

std::vector<std::uint8_t> makeSampleImage(const SampleImageLayout& layout);

}  // namespace velmora::sim
