#pragma once
// Which hubs a command runs on: "--all" (every supported hub attached) or
// "--port PATH", repeatable, as the command's own options; and the run of one
// workflow on several of them at once, with its summary.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandContext.h"
#include "cli/HubSession.h"
#include "environment/HubEnvironment.h"
#include "production/HubFleet.h"

namespace velmora::cli {

// The hubs a command names; the core resolves it to ports (HubEnvironment::portsFor).
using HubSelection = HubChoice;

// Takes --all (where allowAll) and every --port PATH out of the arguments. False
// with error set when they are misused.
bool takeHubSelection(std::vector<std::string>& arguments, const std::string& command, bool allowAll,
                      HubSelection& selection, std::string& error);

// The hub of a command that acts on one hub, by the core's one rule
// (HubEnvironment::chooseOneHub): a connection pinned to the port named or to the
// one hub attached, or the session's own when none is listed (its open then says
// why, busy included). refusal is set, and nothing opened, when several are
// attached and none was named.
struct OneHub {
    std::unique_ptr<HubConnection> pinned;
    HubConnection* connection = nullptr;
    std::optional<std::string> port;
    std::string refusal;
};
OneHub connectOneHub(HubSession& session, const std::string& command, const std::optional<std::string>& named,
                     bool allowAll);

// Runs the workflow on every port at once: status lines prefixed with the port,
// then the summary table (or, with --json, one entry per hub and nothing else on
// stdout). Success only when every hub succeeded.
ExitStatus runOnSeveralHubs(const CommandContext& command, HubSession& session,
                            const std::vector<std::string>& ports, const HubWorkflow& workflow);

// --all (or --json) with no supported hub attached: busy when another run holds
// the port of one that is off the bus, restarting under that run.
ExitStatus noHubAttached(const CommandContext& command, HubSession& session);

}  // namespace velmora::cli
