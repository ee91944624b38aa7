#pragma once
// The parts of the one gate (HubEnvironment::admitPlan, environment/PlanAdmission.cpp)
// that the rules for rollbacks extend.
#include <optional>
#include <string>

#include "workflows/RunPlan.h"

namespace velmora {

class HubEnvironment;

// Whether the bytes of a backup may be written back into a hub: nothing when they
// may, else the reason.
std::optional<std::string> admitBackupBytes(const HubEnvironment& environment, const PlannedBytes& bytes);

// A plan named command on hubs, keeping what this environment keeps (the
// window's runs: its options say it, not a command line).
RunPlan keptPlan(const HubEnvironment& environment, const std::string& command, PlanHubs hubs);

}  // namespace velmora
