#include "app/Sha256.h"

#include <nettle/sha2.h>

#include <array>

namespace velmora {

std::string sha256Hex(const std::uint8_t* bytes, std::size_t size) {
    sha256_ctx context{};
    sha256_init(&context);
    sha256_update(&context, size, bytes);
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    return text;
}

}  // namespace velmora
