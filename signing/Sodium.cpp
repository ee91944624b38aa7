#include "signing/Sodium.h"

#include <sodium.h>

#include <cstdlib>

namespace velmora::signing {

void prepareSodium() {
    // Fails only without a source of randomness, where no key may be made and no
    // signature trusted: nothing sound is left to do.
    if (sodium_init() < 0) std::abort();
}

}  // namespace velmora::signing
