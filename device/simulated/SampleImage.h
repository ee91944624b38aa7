#pragma once
// The one builder of sample firmware images: a valid image with a configuration
// block in its last 256 bytes carrying the given identity, the version just before
// the block, and a recognisable pattern standing in for code. The simulated hubs
// boot from it, the tests and benchmarks use it, and the shipped sample image
// (resources/images/sample-update.bin) is made with it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora::sim {

struct SampleImageLayout {
    std::uint16_t vendorId = 0;
    std::uint16_t superSpeedProductId = 0;
    std::uint16_t highSpeedProductId = 0;
    std::uint16_t version = 0x0102;
    std::size_t size = 8192;  // rounded up to whole 256-byte blocks, two at least
    std::string manufacturer = "Norvex";
    std::string product = "Zelo Hub";
    std::string serial = "000000000001";
    std::array<std::uint8_t, 16> containerId = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                                                0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
    // Further configuration bytes: block offset and value.
    std::vector<std::pair<std::size_t, std::uint8_t>> settings;
};

// The strings are stored as descriptor entries in order; one that no longer fits
// in the string area ends the list.
std::vector<std::uint8_t> makeSampleImage(const SampleImageLayout& layout);

}  // namespace velmora::sim
