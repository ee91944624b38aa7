#include "firmware/FirmwareBuffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

using namespace velmora::image;

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Images come from anywhere: only a regular file is read, and it is opened without
// blocking so that a FIFO or a device at the path cannot hang the program.
int openImageFile(const std::string& path, struct stat& status) {
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        return -1;  // a device is not even opened
    }
    const int descriptor = ::open(path.c_str(), kReadFlags);
    if (descriptor < 0) {
        return -1;
    }
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return -1;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return descriptor;
}

bool readExactly(int descriptor, std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t count = ::read(descriptor, bytes, size);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

// The size is the opened file's own; a file that shrinks while it is read gives a
// short read and fails instead of parsing a torn image.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    struct stat status {};
    const int descriptor = openImageFile(path, status);
    if (descriptor < 0) {
        return false;
    }
    const bool sizeUsable = status.st_size > 0 && status.st_size <= std::numeric_limits<std::int32_t>::max();
    if (sizeUsable) {
        bytes.resize(static_cast<std::size_t>(status.st_size));
    }
    const bool read = sizeUsable && readExactly(descriptor, bytes.data(), bytes.size());
    ::close(descriptor);
    return read;
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
