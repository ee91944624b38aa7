#include "device/FlashSpan.h"

namespace velmora {

bool FlashSpan::begin(FlashSpanHost* host, const std::string& portPath) {
    if (host_ != nullptr || host == nullptr) return true;
    if (!host->enterSpan(portPath)) return false;
    host_ = host;
    portPath_ = portPath;
    return true;
}

void FlashSpan::end() {
    FlashSpanHost* host = host_;
    if (host == nullptr) return;
    // Cleared first: a leave that ends the process never returns, and a guard must
    // not leave twice.
    host_ = nullptr;
    host->leaveSpan(portPath_);
}

}  // namespace velmora
