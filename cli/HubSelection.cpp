#include "cli/HubSelection.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/Json.h"
#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "cli/CliText.h"
#include "cli/FleetTerminal.h"
#include "detection/HubDetection.h"
#include "workflows/WorkflowContext.h"
#include "workflows/WorkflowMessages.h"

namespace velmora::cli {
namespace {

// null when the hub did not answer; in ROM code "rom", as in the table.
JsonDocument versionJson(const std::optional<HubStatus>& status) {
    return status ? JsonDocument(runningVersionText(status)) : JsonDocument();
}

double secondsOf(Milliseconds duration) {
    return std::chrono::duration<double>(duration).count();
}

void printSummary(std::ostream& out, const std::vector<HubRunResult>& results) {
    std::size_t width = std::string("port").size();
    for (const HubRunResult& result : results) width = std::max(width, printableText(result.portPath).size());
    out << text::summaryHeader(width);
    for (const HubRunResult& result : results) {
        out << text::summaryRow(width, printableText(result.portPath), result.succeeded,
                                runningVersionText(result.statusBefore),
                                runningVersionText(result.statusAfter), secondsOf(result.duration));
    }
}

void printJson(std::ostream& out, const std::vector<HubRunResult>& results,
               const std::vector<std::unique_ptr<PortReporter>>& reporters) {
    constexpr double kTenths = 10.0;  // seconds to a tenth, as the summary table shows them
    JsonDocument entries = JsonDocument::array();
    for (std::size_t index = 0; index < results.size(); ++index) {
        const HubRunResult& result = results[index];
        entries.push_back({{"port", result.portPath},
                           {"result", result.succeeded ? "success" : "failed"},
                           {"versionBefore", versionJson(result.statusBefore)},
                           {"versionAfter", versionJson(result.statusAfter)},
                           {"seconds", std::round(secondsOf(result.duration) * kTenths) / kTenths},
                           {"lines", reporters[index]->lines()}});
    }
    out << asciiJson(std::move(entries)) << '\n';
}

}  // namespace

bool takeHubSelection(std::vector<std::string>& arguments, const std::string& command, bool allowAll,
                      HubSelection& selection, std::string& error) {
    std::vector<std::string> rest;
    ArgumentReader reader(arguments);
    while (!reader.done() && error.empty()) {
        std::string port;
        if (reader.option(text::kPortOption, port, error)) {
            if (error.empty() && port.empty()) error = text::missingValue(text::kPortOption);
            if (error.empty() &&
                std::find(selection.ports.begin(), selection.ports.end(), port) == selection.ports.end())
                selection.ports.push_back(port);
        } else if (allowAll && reader.peek() == text::kAllOption) {
            reader.next();
            selection.all = true;
        } else {
            rest.push_back(reader.next());
        }
    }
    if (error.empty() && selection.all && !selection.ports.empty()) error = text::allWithPorts(command);
    arguments = std::move(rest);
    return error.empty();
}

OneHub connectOneHub(HubSession& session, const std::string& command, const std::optional<std::string>& named,
                     bool allowAll) {
    OneHub hub;
    const OneHubChoice choice = session.environment().chooseOneHub(named);
    if (choice.refused()) {
        hub.refusal = text::takesOneHub(command, choice.severalAttached, allowAll);
        return hub;
    }
    hub.port = choice.port;
    if (hub.port) hub.pinned = session.connectionTo(*hub.port);
    hub.connection = hub.pinned ? hub.pinned.get() : &session.connection();
    return hub;
}

ExitStatus runOnSeveralHubs(const CommandContext& command, HubSession& session,
                            const std::vector<std::string>& ports, const HubWorkflow& workflow) {
    const bool json = command.options.json;
    FleetTerminal terminal(command.streams, ports);
    std::vector<std::unique_ptr<PortReporter>> reporters;
    for (std::size_t index = 0; index < ports.size(); ++index)
        reporters.push_back(std::make_unique<PortReporter>(terminal, index, ports[index], json));
    const HubFleet fleet{session.clock(),
                         [&session](const std::string& port) { return session.connectionTo(port); },
                         [&reporters](std::size_t index) -> WorkflowReporter& { return *reporters[index]; },
                         &session.console(),
                         session.recorder(),
                         session.backups(),
                         &session.environment().runIds()};
    const std::vector<HubRunResult> results = runOnHubs(fleet, ports, workflow);
    terminal.finish();
    if (json) {
        printJson(command.streams.out, results, reporters);
    } else {
        printSummary(command.streams.out, results);
    }
    command.streams.out.flush();
    const bool all =
        std::all_of(results.begin(), results.end(), [](const HubRunResult& r) { return r.succeeded; });
    return all ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

ExitStatus noHubAttached(const CommandContext& command, HubSession& session) {
    if (command.options.json) command.streams.out << "[]\n";
    if (const std::optional<HeldPortLock> held = session.environment().hubHeldByAnotherRun()) {
        std::string busy = messages::kHubBusy;
        busy.pop_back();  // the line end
        command.note(busy);
        return command.fail(ExitStatus::WorkflowFailed, busyPortText(*held));
    }
    return command.fail(ExitStatus::WorkflowFailed, std::string(kInsertHubText));
}

}  // namespace velmora::cli
