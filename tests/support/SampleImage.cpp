#include "SampleImage.h"

#include <algorithm>

#include "firmware/FirmwareBuffer.h"

namespace velmora::testing {

namespace {
using image::kBlockBytes;
constexpr std::size_t kVersionBefore = -image::kVersionOffset;
using image::kVidOffset;
using image::kSspidOffset;
using image::kHspidOffset;
using image::kStringsOffset;
using image::kStringsLength;
using image::kContainerIdOffset;
constexpr std::uint8_t kStringDescriptorType = 0x03;
}  // namespace

std::vector<std::uint8_t> makeImage(std::size_t size, std::size_t blockPosition,
                                    std::array<std::uint8_t, 2> signature)
{
    std::vector<std::uint8_t> image(size, 0);
    if (blockPosition + 1 < size) {
        image[blockPosition] = signature[0];
        image[blockPosition + 1] = signature[1];
    }
    return image;
}

void putWord(std::vector<std::uint8_t>& image, std::size_t position, std::uint16_t value)
{
    image.at(position) = static_cast<std::uint8_t>(value >> 8);
    image.at(position + 1) = static_cast<std::uint8_t>(value & 0xFF);
}

void putStringArea(std::vector<std::uint8_t>& image, std::size_t blockPosition,
                   const std::vector<std::uint8_t>& areaBytes)
{
    const std::size_t area = blockPosition + kStringsOffset;
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(area), kStringsLength, 0);
    for (std::size_t index = 0; index < areaBytes.size() && index < kStringsLength; ++index) {
        image.at(area + index) = areaBytes[index];
    }
}

std::vector<std::uint8_t> makeSampleImage(std::size_t size, const SampleIdentity& identity)
{
    const std::size_t block = size - kBlockBytes;
    std::vector<std::uint8_t> image = makeImage(size, block, kSignature55AA);
    // Something other than zeros before the block, so a viewer shows where it starts.
    for (std::size_t position = 0; position + kVersionBefore < block; ++position) {
        image[position] = static_cast<std::uint8_t>((position * 7 + 3) & 0xFF);
    }
    putWord(image, block - kVersionBefore, identity.version);
    putWord(image, block + kVidOffset, identity.vid);
    putWord(image, block + kSspidOffset, identity.sspid);
    putWord(image, block + kHspidOffset, identity.hspid);
    std::vector<std::uint8_t> area;
    for (const std::string* text : {&identity.manufacturer, &identity.product, &identity.serial}) {
        area.push_back(static_cast<std::uint8_t>(text->size() + 2));
        area.push_back(kStringDescriptorType);
        area.insert(area.end(), text->begin(), text->end());
    }
    putStringArea(image, block, area);
    std::copy(identity.containerId.begin(), identity.containerId.end(),
              image.begin() + static_cast<std::ptrdiff_t>(block + kContainerIdOffset));
    return image;
}

std::vector<std::uint8_t> makeShippedSampleImage()
{
    constexpr std::size_t kSampleImageBytes = 32768;
    SampleIdentity identity;
    identity.vid = 0x2FE3;
    identity.sspid = 0x0611;
    identity.hspid = 0x0610;
    identity.version = 0x0102;
    // The three strings share 29 bytes, so the product name is the short one.
    identity.manufacturer = "Velmora Labs";
    identity.product = "Zelo Sim";
    identity.serial = "SIM0001";
    identity.containerId = {0x5a, 0x31, 0x8c, 0x02, 0x4e, 0x77, 0x41, 0x9b,
                            0xa1, 0x6d, 0x20, 0x3f, 0xc4, 0x58, 0x90, 0x0e};
    std::vector<std::uint8_t> image = makeSampleImage(kSampleImageBytes, identity);
    const std::size_t block = kSampleImageBytes - kBlockBytes;
    // offset, value: SSC on at -0.25% and 31.5 kHz; over-current protection and U1
    // on, U1 after 2 us; 3 ports, self powered, board revision 18; PHY settings.
    const std::pair<std::size_t, std::uint8_t> settings[] = {
        {96, 0x01}, {97, 0x10}, {100, 0x03}, {101, 0x01}, {104, 0x06},
        {105, 0x12}, {110, 0x02}, {111, 0x10}, {120, 0x02}, {130, 0x04},
    };
    for (const auto& [offset, value] : settings) {
        image[block + offset] = value;
    }
    return image;
}

}  // namespace velmora::testing
