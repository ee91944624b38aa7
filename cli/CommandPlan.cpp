#include "cli/CommandPlan.h"

#include "cli/CliText.h"
#include "cli/ImageFile.h"

namespace velmora::cli {

RunPlan commandPlan(const CommandContext& command, const std::string& name, PlanHubs hubs) {
    RunPlan plan;
    plan.command = name;
    plan.hubs = hubs;
    plan.keeps.backups = !command.options.noBackup;
    plan.keeps.history = !command.options.replayPath;
    plan.keeps.recording = command.options.recordPath;
    return plan;
}

RunPlan commandPlan(const CommandContext& command, const std::string& name, const HubSelection& selection) {
    RunPlan plan = commandPlan(command, name,
                               selection.all             ? PlanHubs::AllHubs
                               : selection.ports.empty() ? PlanHubs::TheOneHub
                                                         : PlanHubs::NamedPorts);
    plan.ports = selection.ports;
    return plan;
}

std::optional<ExitStatus> refusePlan(const CommandContext& command, HubEnvironment& environment,
                                     const RunPlan& plan, PlanVerdict& verdict, bool allowAll) {
    verdict = environment.admitPlan(plan);
    switch (verdict.refusal) {
        case PlanRefusal::None: return std::nullopt;
        case PlanRefusal::Hubs:
            return command.fail(ExitStatus::BadUsage,
                                text::takesOneHub(plan.command, verdict.ports, allowAll));
        case PlanRefusal::Bytes:
            return command.fail(ExitStatus::BadUsage,
                                verdict.image ? refusalLine(*verdict.image) : verdict.reason);
        case PlanRefusal::Files: return command.fail(ExitStatus::BadUsage, verdict.reason);
    }
    return std::nullopt;
}

}  // namespace velmora::cli
