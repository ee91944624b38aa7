#pragma once
// Images move to and from the flash in transfer units from address 0, the image
// offset doubling as the flash address; the last chunk is whatever remains.
#include <cstddef>
#include <functional>

namespace velmora {

// Calls transfer(offset, length) for each chunk in order and stops at the first
// that returns false. True when every chunk went through.
bool transferChunks(std::size_t size,
                    const std::function<bool(std::size_t offset, std::size_t length)>& transfer);

// The progress of a transfer is worked out from the bytes moved rather than summed
// chunk by chunk, so a complete transfer lands exactly on the end of its span.
double spanProgress(double start, double span, std::size_t done, std::size_t total);

}  // namespace velmora
