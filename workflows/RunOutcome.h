#pragma once
// How a run ended, for whoever started it: a later check of what the hub runs
// takes the closing status from here rather than asking the hub again.
#include <optional>

#include "app/RunId.h"
#include "device/HubStatus.h"

namespace velmora {

struct RunOutcome {
    bool succeeded = false;
    RunId run;  // the run's name; none when it never reached the hub
    // What the hub runs at the end of a run that succeeded, read while it was
    // still open (its flash code and version, or its ROM code); none when the
    // run failed or the read did.
    std::optional<HubStatus> closingStatus;
};

}  // namespace velmora
