#include "app/Sha256.h"

#include <nettle/sha2.h>

#include <algorithm>
#include <array>

#include "app/Hex.h"

namespace velmora {

std::string sha256Hex(const std::uint8_t* bytes, std::size_t size) {
    sha256_ctx context{};
    sha256_init(&context);
    sha256_update(&context, size, bytes);
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return hexBytes(digest, HexCase::Lower);
}

std::optional<std::size_t> prefixWithSha256(const std::uint8_t* bytes, std::size_t size, std::size_t from,
                                            const std::string& hex) {
    sha256_ctx context{};
    sha256_init(&context);
    sha256_update(&context, std::min(from, size), bytes);
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    for (std::size_t length = std::min(from, size);; ++length) {
        sha256_ctx copy = context;  // the digest resets the context it ends
        sha256_digest(&copy, digest.size(), digest.data());
        if (hexBytes(digest, HexCase::Lower) == hex) return length;
        if (length == size) return std::nullopt;
        sha256_update(&context, 1, bytes + length);
    }
}

}  // namespace velmora
