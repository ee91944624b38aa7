#include "device/simulated/SampleImage.h"

#include <algorithm>

namespace velmora::sim {

namespace {

constexpr std::size_t kBlockBytes = 256;
constexpr std::size_t kVersionBeforeBlock = 7;
constexpr std::size_t kVidOffset = 2;
constexpr std::size_t kSspidOffset = 4;
constexpr std::size_t kHspidOffset = 6;
constexpr std::size_t kStringsOffset = 43;
constexpr std::size_t kStringsLength = 35;
constexpr std::size_t kContainerIdOffset = 78;
constexpr std::size_t kContainerIdLength = 16;
constexpr std::uint8_t kStringDescriptorType = 0x03;

void putWord(std::vector<std::uint8_t>& image, std::size_t at, std::uint16_t value) {
    image[at] = static_cast<std::uint8_t>(value >> 8);
    image[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

// Stores the strings as length-prefixed entries; one that does not fit ends the list.
void putStrings(std::vector<std::uint8_t>& image, std::size_t at, const SampleImageLayout& layout) {
    std::size_t used = 0;
    for (const std::string* text : {&layout.manufacturer, &layout.product, &layout.serial}) {
        const std::size_t entry = text->size() + 2;
        if (used + entry > kStringsLength || entry > 0xFF) return;
        image[at + used] = static_cast<std::uint8_t>(entry);
        image[at + used + 1] = kStringDescriptorType;
        for (std::size_t i = 0; i < text->size(); ++i)
            image[at + used + 2 + i] = static_cast<std::uint8_t>((*text)[i]);
        used += entry;
    }
}

}  // namespace

std::vector<std::uint8_t> makeSampleImage(const SampleImageLayout& layout) {
    std::size_t size = (layout.size + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
    if (size < 2 * kBlockBytes) size = 2 * kBlockBytes;
    std::vector<std::uint8_t> image(size);
    // Filler that never reads as a block signature at a 256-byte boundary.
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + 1) & 0x7F);

    const std::size_t block = size - kBlockBytes;
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(block), image.end(), 0);
    putWord(image, block - kVersionBeforeBlock, layout.version);
    image[block] = 0xAA;
    image[block + 1] = 0x55;
    putWord(image, block + kVidOffset, layout.vendorId);
    putWord(image, block + kSspidOffset, layout.superSpeedProductId);
    putWord(image, block + kHspidOffset, layout.highSpeedProductId);
    putStrings(image, block + kStringsOffset, layout);
    for (std::size_t i = 0; i < kContainerIdLength; ++i)
        image[block + kContainerIdOffset + i] = static_cast<std::uint8_t>(0x10 + i);
    return image;
}

}  // namespace velmora::sim
