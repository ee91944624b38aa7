#pragma once
// Builds firmware images for tests and for the shipped sample: zero bytes with a
// configuration block at a chosen position.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::testing {

inline constexpr std::array<std::uint8_t, 2> kSignatureAA55 = {0xAA, 0x55};
inline constexpr std::array<std::uint8_t, 2> kSignature3CC3 = {0x3C, 0xC3};
inline constexpr std::array<std::uint8_t, 2> kSignature55AA = {0x55, 0xAA};

struct SampleIdentity {
    std::uint16_t vid = 0;
    std::uint16_t sspid = 0;
    std::uint16_t hspid = 0;
    std::uint16_t version = 0;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::array<std::uint8_t, 16> containerId{};
};

// Zero bytes of the given size with the signature at blockPosition (when it fits).
std::vector<std::uint8_t> makeImage(std::size_t size, std::size_t blockPosition,
                                    std::array<std::uint8_t, 2> signature = kSignature55AA);

// Writes a 16-bit number high byte first.
void putWord(std::vector<std::uint8_t>& image, std::size_t position, std::uint16_t value);

// Writes raw bytes into the string descriptor area of the block at blockPosition.
void putStringArea(std::vector<std::uint8_t>& image, std::size_t blockPosition,
                   const std::vector<std::uint8_t>& areaBytes);

// An image of the given size whose last 256 bytes are a configuration block with the
// identity filled in, the strings as descriptor entries of type 3 and a recognisable
// code pattern before the block.
std::vector<std::uint8_t> makeSampleImage(std::size_t size, const SampleIdentity& identity);

// The shipped sample image: the simulated hub's identity and configuration values
// that the shipped IC definition file describes.
std::vector<std::uint8_t> makeShippedSampleImage();

}  // namespace velmora::testing
