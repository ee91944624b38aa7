// A station's serial settings, set member by member: GCC 12 at -O3 wrongly warns
// (-Wmaybe-uninitialized) on a nested braced temporary of them.
#pragma once

#include <cstdint>
#include <string>

#include "production/StationSerials.h"

namespace velmora::testing {

inline SerialSettings serialSettings(const std::string& prefix, int digits, std::uint64_t start,
                                     std::uint64_t block, const std::string& station) {
    SerialSettings settings;
    settings.format.prefix = prefix;
    settings.format.digits = digits;
    settings.start = start;
    settings.block = block;
    settings.station = station;
    return settings;
}

}  // namespace velmora::testing
