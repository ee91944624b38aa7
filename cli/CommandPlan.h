#pragma once
// How a command states its plan and has it admitted: the global options say what
// every run keeps (backups, history, the recording); the command adds its hubs,
// its bytes and its files; the composition root admits the whole or refuses it,
// and the command runs only an admitted plan.
#include <optional>
#include <string>

#include "cli/CommandContext.h"
#include "cli/HubSelection.h"
#include "environment/HubEnvironment.h"
#include "workflows/RunPlan.h"

namespace velmora::cli {

// A plan for the command name with what the options keep, acting on hubs.
RunPlan commandPlan(const CommandContext& command, const std::string& name, PlanHubs hubs);
// The same for a command that picks its hubs with --port and --all: none chosen
// is the one hub attached.
RunPlan commandPlan(const CommandContext& command, const std::string& name, const HubSelection& selection);

// Admits the plan; on a refusal prints its one reason (a hub refusal in the
// command line's words, naming --port and --all where the command takes them;
// an image's with its hint) and answers the status to exit with (2).
std::optional<ExitStatus> refusePlan(const CommandContext& command, HubEnvironment& environment,
                                     const RunPlan& plan, PlanVerdict& verdict, bool allowAll = false);

}  // namespace velmora::cli
