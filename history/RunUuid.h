#pragma once
// Run UUIDs: version 7 (RFC 9562), whose first 48 bits are the milliseconds since
// 1970, so they sort as the runs started and index well on a server; the other
// 74 bits are random, so stations never need to agree on anything to name runs.
#include <string>

#include "history/IsoTime.h"

namespace velmora::history {

// "0193a5f2-6c4e-7abc-9def-0123456789ab": lower case, with dashes.
std::string newRunUuid(WallTime started);

// True for the form newRunUuid writes (any version).
bool isRunUuid(const std::string& text);

}  // namespace velmora::history
