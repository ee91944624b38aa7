#include "workflows/ChunkTransfer.h"

#include "device/FlashOperations.h"

namespace velmora {

bool transferChunks(std::size_t size,
                    const std::function<bool(std::size_t offset, std::size_t length)>& transfer) {
    for (std::size_t offset = 0; offset < size;) {
        const std::size_t length = flash::chunkLength(size, offset);
        if (!transfer(offset, length)) return false;
        offset += length;
    }
    return true;
}

double spanProgress(double start, double span, std::size_t done, std::size_t total) {
    return start + span * static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace velmora
