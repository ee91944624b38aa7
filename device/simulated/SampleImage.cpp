#include "device/simulated/SampleImage.h"

#include <algorithm>

#include "firmware/ImageLayout.h"

namespace velmora::sim {

namespace {

using namespace image;

void putWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

void putStrings(std::vector<std::uint8_t>& bytes, std::size_t at, const SampleImageLayout& layout) {
    std::size_t used = 0;
    for (const std::string* text : {&layout.manufacturer, &layout.product, &layout.serial}) {
        const std::size_t entry = text->size() + kStringEntryHeadBytes;
        if (used + entry > kStringsLength) return;
        bytes[at + used] = static_cast<std::uint8_t>(entry);
        bytes[at + used + 1] = kStringDescriptorType;
        std::copy(text->begin(), text->end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + used + 2));
        used += entry;
    }
}

}  // namespace

std::vector<std::uint8_t> makeSampleImage(const SampleImageLayout& layout) {
    const std::size_t size =
        std::max((layout.size + kBlockBytes - 1) / kBlockBytes, std::size_t{2}) * kBlockBytes;
    const std::size_t block = size - kBlockBytes;
    std::vector<std::uint8_t> bytes(size, 0);
    // A pattern up to the version bytes, so a viewer shows where the code ends;
    // it never reads as a block signature at a 256-byte boundary.
    for (std::size_t position = 0; position + kVersionBeforeBlock < block; ++position)
        bytes[position] = static_cast<std::uint8_t>((position * 7 + 3) & 0xFF);
    putWord(bytes, block - kVersionBeforeBlock, layout.version);
    bytes[block] = kBlockSignatures[2][0];
    bytes[block + 1] = kBlockSignatures[2][1];
    putWord(bytes, block + kVidOffset, layout.vendorId);
    putWord(bytes, block + kSspidOffset, layout.superSpeedProductId);
    putWord(bytes, block + kHspidOffset, layout.highSpeedProductId);
    putStrings(bytes, block + kStringsOffset, layout);
    std::copy(layout.containerId.begin(), layout.containerId.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(block + kContainerIdOffset));
    for (const auto& [offset, value] : layout.settings)
        if (offset < kBlockBytes) bytes[block + offset] = value;
    return bytes;
}

}  // namespace velmora::sim
