#include "cli/CliApplication.h"

#include <functional>
#include <map>

#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "cli/BackupCommands.h"
#include "cli/CliText.h"
#include "cli/CommandContext.h"
#include "cli/DeviceCommands.h"
#include "cli/Doctor.h"
#include "cli/DriverCommands.h"
#include "cli/HistoryCommand.h"
#include "cli/ImageCommands.h"
#include "cli/RecordingCommand.h"
#include "cli/StationCommand.h"
#include "device/simulated/SimulationScenarios.h"
#include "environment/EnvironmentMessages.h"

namespace velmora::cli {
namespace {

using Command = std::function<ExitStatus(const CommandContext&)>;

struct CommandEntry {
    Command run;
    bool takesJson = false;
};

const std::map<std::string, CommandEntry>& commands() {
    static const std::map<std::string, CommandEntry> table = {
        {"detect", {runDetect, true}}, {"list", {runList, true}},
        {"update", {runUpdate, true}}, {"scalar", {runScalar}},
        {"read", {runRead}},           {"erase", {runErase, true}},
        {"image", {runImage, true}},   {"driver", {runDriver}},
        {"doctor", {runDoctor, true}}, {"history", {runHistory, true}},
        {"station", {runStation}},     {"recording", {runRecording}},
        {"verify", {runVerify}},       {"backups", {runBackups, true}},
        {"restore", {runRestore}},     {"recover", {runRecover}},
    };
    return table;
}

// The scenario lines sit under the option they belong to.
std::string indented(const std::string& lines) {
    const std::string indent(text::kScenarioIndent, ' ');
    std::string result;
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        end = end == std::string::npos ? lines.size() : end + 1;
        result += indent + lines.substr(start, end - start);
        start = end;
    }
    if (!result.empty() && result.back() != '\n') result += '\n';
    return result;
}

std::string usage() {
    return formatText(text::kUsage, indented(sim::simulationScenarioHelp()).c_str(),
                      exitStatusHelp().c_str());
}

// After a hub command: a recording that could not be written whole is said, and a
// replay that went elsewhere than its recording fails the run with its one line,
// whatever the command made of the requests the replay refused.
ExitStatus endCommand(const CommandContext& command, ExitStatus status) {
    const SessionEnding& ending = *command.ending;
    if (ending.recordingProblem) command.note(*ending.recordingProblem);
    if (ending.replayDivergence) return command.fail(ExitStatus::WorkflowFailed, *ending.replayDivergence);
    return status;
}

ExitStatus run(const CliOptions& options, TerminalStreams streams, FirmwareBuffers& buffers,
               host::SignalDeferral* signalOwner) {
    CommandContext command{options, {}, streams, buffers};
    command.signalOwner = signalOwner;
    if (options.help) {
        streams.out << usage();
        return ExitStatus::Success;
    }
    if (options.words.empty()) return command.fail(ExitStatus::BadUsage, text::kNoCommand);
    const std::string& name = options.words.front();
    const auto entry = commands().find(name);
    if (entry == commands().end()) {
        return command.fail(ExitStatus::BadUsage, text::unknownCommand(name));
    }
    if (options.json && !entry->second.takesJson) {
        return command.fail(ExitStatus::BadUsage, text::jsonNotSupported(name));
    }
    if (options.simulate && !options.scenario.empty() && !sim::isSimulationScenario(options.scenario)) {
        return command.fail(ExitStatus::BadUsage, messages::unknownScenario(options.scenario));
    }
    command.arguments.assign(options.words.begin() + 1, options.words.end());
    return endCommand(command, entry->second.run(command));
}

}  // namespace

// Messages quote paths, arguments and texts from files: none of their control
// characters reach the terminal (an alert's own line breaks stay).
ExitStatus CommandContext::fail(ExitStatus status, const std::string& message) const {
    note(message);
    return status;
}

void CommandContext::note(const std::string& message) const {
    streams.err << text::kProgramName << ": " << printableText(message, true) << '\n';
    streams.err.flush();
}

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (const auto& [name, entry] : commands()) names.push_back(name);
    return names;
}

int runCommandLine(const std::vector<std::string>& arguments, TerminalStreams streams,
                   host::SignalDeferral* signalOwner) {
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    FirmwareBuffers buffers;
    if (!parsed.error.empty()) {
        CommandContext command{parsed.options, {}, streams, buffers};
        return static_cast<int>(command.fail(ExitStatus::BadUsage, parsed.error));
    }
    return static_cast<int>(run(parsed.options, streams, buffers, signalOwner));
}

}  // namespace velmora::cli
