#pragma once
// Where the progress slider stands during a transfer that covers one span of it.
#include <cstddef>

namespace velmora {

// The progress of a transfer is worked out from the bytes moved rather than summed
// chunk by chunk, so a complete transfer lands exactly on the end of its span.
double spanProgress(double start, double span, std::size_t done, std::size_t total);

}  // namespace velmora
