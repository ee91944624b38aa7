#include "firmware/FirmwareBuffer.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

using namespace velmora::image;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The size is taken from a first opening, the bytes from a second, as the file may be
// replaced between the two; a short read then fails instead of parsing a torn image.
std::int64_t fileSize(const std::string& path) {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) {
        return -1;
    }
    return std::ftell(file.get());
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const std::int64_t size = fileSize(path);
    if (size <= 0 || size > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

// Everything a parse derives from an image starts again from nothing, the display
// texts included: an image whose string area is empty or broken must not show, nor
// have saved into it, the strings of the image parsed before it.
void resetBuffer(FirmwareBuffer& buffer) {
    buffer.loaded = false;
    buffer.data.clear();
    buffer.data.shrink_to_fit();
    buffer.block.reset();
    buffer.strings = 0;
    buffer.containerID = 0;
    buffer.size = 0;
    buffer.stringsLength = 0;
    buffer.containerIDLength = 0;
    buffer.vid = 0;
    buffer.sspid = 0;
    buffer.hspid = 0;
    buffer.version.reset();
    buffer.manufacturer.clear();
    buffer.product.clear();
    buffer.serial.clear();
    buffer.containerIDText.clear();
}

bool isBlockSignature(const std::uint8_t* bytes) {
    for (const auto& signature : kBlockSignatures) {
        if (bytes[0] == signature[0] && bytes[1] == signature[1]) {
            return true;
        }
    }
    return false;
}

// Only positions a whole number of blocks from the end are tested; the last match
// wins because the hub itself reads its configuration from the end of the image.
std::optional<std::size_t> findBlock(const std::vector<std::uint8_t>& data) {
    for (std::size_t end = data.size(); end >= kBlockBytes; end -= kBlockBytes) {
        const std::size_t position = end - kBlockBytes;
        if (isBlockSignature(&data[position])) {
            return position;
        }
    }
    return std::nullopt;
}

void locateFields(FirmwareBuffer& buffer, std::size_t block) {
    buffer.block = block;
    buffer.strings = block + kStringsOffset;
    buffer.containerID = block + kContainerIdOffset;
    buffer.stringsLength = kStringsLength;
    buffer.containerIDLength = kContainerIdLength;
    buffer.vid = block + kVidOffset;
    buffer.sspid = block + kSspidOffset;
    buffer.hspid = block + kHspidOffset;
    if (block >= kVersionBeforeBlock) {
        buffer.version = block - kVersionBeforeBlock;
    }
}

// The texts are C strings on the hub's side: a NUL inside an entry ends the text.
std::string entryText(const std::uint8_t* characters, std::size_t count) {
    const auto* text = reinterpret_cast<const char*>(characters);
    return std::string(text, strnlen(text, count));
}

void walkStrings(FirmwareBuffer& buffer) {
    const std::uint8_t* area = &buffer.data[buffer.strings];
    std::string* targets[kStringEntryCount] = {&buffer.manufacturer, &buffer.product, &buffer.serial};
    std::size_t offset = 0;
    for (std::string* target : targets) {
        const std::size_t length = area[offset];
        // A length shorter than the entry's own head would copy a negative count.
        if (length < kStringEntryHeadBytes || offset + length > kStringsLength) {
            return;
        }
        *target = entryText(area + offset + kStringEntryHeadBytes, length - kStringEntryHeadBytes);
        offset += length;
        if (offset >= kStringsLength) {
            return;
        }
    }
}

std::string containerIdText(const std::uint8_t* bytes) {
    char text[kTextCapacity];
    std::snprintf(text, sizeof text, "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

}  // namespace

bool FW_LoadFile(FirmwareBuffer& buffer, const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(path, bytes)) {
        return false;
    }
    return FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

bool FW_Parse(FirmwareBuffer& buffer, const std::uint8_t* bytes, std::int64_t length) {
    // An image the signed size cannot describe is refused before anything changes.
    if (length > std::numeric_limits<std::int32_t>::max() ||
        length < std::numeric_limits<std::int32_t>::min()) {
        return false;
    }
    resetBuffer(buffer);
    buffer.size = static_cast<std::int32_t>(length);
    if (length < 1 || bytes == nullptr) {
        return false;
    }
    buffer.data.assign(bytes, bytes + length);
    if (buffer.data.size() < kMinimumImageBytes) {
        return false;
    }
    const std::optional<std::size_t> block = findBlock(buffer.data);
    if (!block) {
        return false;
    }
    locateFields(buffer, *block);
    walkStrings(buffer);
    buffer.containerIDText = containerIdText(&buffer.data[buffer.containerID]);
    buffer.loaded = true;
    return true;
}
