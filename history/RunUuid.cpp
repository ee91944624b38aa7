#include "history/RunUuid.h"

#include <sys/random.h>

#include <array>
#include <cstdint>
#include <random>

#include "app/Hex.h"

namespace velmora::history {
namespace {

// The kernel's random bytes; a seeded engine only if it cannot give them (a
// sandbox without the call), since a name clash would merge two runs' rows.
void randomBytes(std::uint8_t* bytes, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = ::getrandom(bytes + filled, count - filled, 0);
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled == count) return;
    std::random_device device;
    std::mt19937_64 engine((static_cast<std::uint64_t>(device()) << 32) ^ device());
    for (; filled < count; ++filled) bytes[filled] = static_cast<std::uint8_t>(engine());
}

}  // namespace

std::string newRunUuid(WallTime started) {
    std::array<std::uint8_t, 16> bytes{};
    randomBytes(bytes.data() + 6, bytes.size() - 6);
    const auto milliseconds = static_cast<std::uint64_t>(started.time_since_epoch().count());
    for (int index = 0; index < 6; ++index)
        bytes[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(milliseconds >> (40 - 8 * index));
    bytes[6] = static_cast<std::uint8_t>(0x70 | (bytes[6] & 0x0F));  // version 7
    bytes[8] = static_cast<std::uint8_t>(0x80 | (bytes[8] & 0x3F));  // the RFC's variant
    return uuidText(bytes);
}

bool isRunUuid(const std::string& text) {
    // In the one form the program writes: lower case.
    const std::optional<std::array<std::uint8_t, 16>> bytes = uuidBytes(text);
    return bytes && uuidText(*bytes) == text;
}

}  // namespace velmora::history
