#pragma once
// Raw image builders for tests that need images the sample builder would never
// make (a block at an odd position, a broken string area), and the shipped sample.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware/ImageLayout.h"

namespace velmora::testing {

inline constexpr std::array<std::uint8_t, 2> kSignatureAA55 = image::kBlockSignatures[0];
inline constexpr std::array<std::uint8_t, 2> kSignature3CC3 = image::kBlockSignatures[1];
inline constexpr std::array<std::uint8_t, 2> kSignature55AA = image::kBlockSignatures[2];

// Zero bytes of the given size with the signature at blockPosition (when it fits).
std::vector<std::uint8_t> makeImage(std::size_t size, std::size_t blockPosition,
                                    std::array<std::uint8_t, 2> signature = kSignature55AA);

// Writes a 16-bit number high byte first.
void putWord(std::vector<std::uint8_t>& image, std::size_t position, std::uint16_t value);

// Writes raw bytes into the string descriptor area of the block at blockPosition.
void putStringArea(std::vector<std::uint8_t>& image, std::size_t blockPosition,
                   const std::vector<std::uint8_t>& areaBytes);

// The shipped sample image: the simulated hub's identity and the configuration
// values that the shipped IC definition file describes.
std::vector<std::uint8_t> makeShippedSampleImage();

}  // namespace velmora::testing
