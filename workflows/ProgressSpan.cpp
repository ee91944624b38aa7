#include "workflows/ProgressSpan.h"

namespace velmora {

double spanProgress(double start, double span, std::size_t done, std::size_t total) {
    return start + span * static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace velmora
