#include "cli/RecordingCommand.h"

#include "cli/CliText.h"
#include "cli/CommandPlan.h"
#include "cli/HubSession.h"
#include "device/recording/UsbmonImport.h"

namespace velmora::cli {
namespace {

constexpr const char* kImportName = "recording import";

ExitStatus runImport(const CommandContext& command) {
    if (command.arguments.size() < 2)
        return command.fail(ExitStatus::BadUsage, text::missingArgument(kImportName, "CAPTURE and OUT"));
    if (command.arguments.size() > 2)
        return command.fail(ExitStatus::BadUsage,
                            text::unexpectedArgument(kImportName, command.arguments[2]));
    const std::string& capturePath = command.arguments[0];
    const std::string& outPath = command.arguments[1];

    int linkType = 0;
    std::vector<recording::CapturedPacket> packets;
    recording::Recording imported;
    std::string error;
    // The configuration's first hub lends its IDs to a device whose descriptor the
    // capture never shows.
    const std::unique_ptr<HubEnvironment> environment = recordsEnvironment(command, error);
    if (!environment) return command.fail(ExitStatus::BadUsage, error);
    // The recording is written over neither the capture, nor the configuration,
    // the history or the backups; the capture is a regular file.
    RunPlan plan = commandPlan(command, kImportName, PlanHubs::None);
    plan.reads = {capturePath};
    plan.writes = {{outPath, OutputKind::Recording}};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, *environment, plan, admitted)) return *refused;
    recording::ImportDefaults defaults;
    if (const SupportedDevice* hub = environment->config().table.firstValid())
        defaults = {hub->vid, hub->sspid};
    if (!recording::readCapture(capturePath, linkType, packets, error) ||
        !recording::importUsbmonPackets(linkType, packets, defaults, imported, error))
        return command.fail(ExitStatus::BadUsage,
                            std::string(kImportName) + ": " + capturePath + ": " + error);

    recording::RecordingHeader header;
    header.program = text::kProgramName;
    header.command = command.options.commandLine;
    for (const SupportedDevice& entry : environment->config().table.entries())
        if (entry.valid != 0) header.table.push_back({entry.vid, entry.sspid, entry.hspid});
    auto writer = recording::RecordingWriter::create(outPath, header, error);
    if (!writer) return command.fail(ExitStatus::WorkflowFailed, text::cannotWrite(outPath, error));
    std::size_t transfers = 0;
    for (const recording::Exchange& exchange : imported.exchanges) {
        if (exchange.kind == recording::ExchangeKind::Control) ++transfers;
        writer->write(exchange);
    }
    if (const std::string problem = writer->problem(); !problem.empty())
        return command.fail(ExitStatus::WorkflowFailed, text::cannotWrite(outPath, problem));
    // File names are a user's or a capture's sender's words: shown printable.
    command.streams.out << text::printable(outPath) << ": " << transfers << " transfers imported from "
                        << text::printable(capturePath) << '\n';
    return ExitStatus::Success;
}

}  // namespace

ExitStatus runRecording(const CommandContext& command) {
    if (command.arguments.empty())
        return command.fail(ExitStatus::BadUsage, text::missingArgument("recording", "import"));
    CommandContext inner = command;
    inner.arguments.erase(inner.arguments.begin());
    if (command.arguments.front() == "import") return runImport(inner);
    return command.fail(ExitStatus::BadUsage, text::unknownCommand("recording " + command.arguments.front()));
}

}  // namespace velmora::cli
