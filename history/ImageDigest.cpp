#include "history/ImageDigest.h"

#include <nettle/sha2.h>

#include <array>

#include "app/Hex.h"

namespace velmora::history {

std::string sha256Hex(const std::uint8_t* bytes, std::size_t size) {
    sha256_ctx context{};
    sha256_init(&context);
    sha256_update(&context, size, bytes);
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return hexBytes(digest, HexCase::Lower);
}

}  // namespace velmora::history
