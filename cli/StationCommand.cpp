#include "cli/StationCommand.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "cli/CliText.h"
#include "cli/CommandPlan.h"
#include "cli/HubSession.h"
#include "cli/ImageFile.h"
#include "cli/ScanReader.h"
#include "environment/StationSetup.h"
#include "host/SignalDeferral.h"
#include "production/HubFleet.h"
#include "production/Station.h"

namespace velmora::cli {
namespace {

struct StationCommandRequest {
    StationRequest station;
    bool scan = false;  // --scan: unit IDs as lines on standard input
};

bool readRequest(const CommandContext& command, StationCommandRequest& request, std::string& error) {
    StationRequest& station = request.station;
    station.stationName = command.options.stationName;
    const std::vector<std::string>& valued = stationValueOptions();
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        std::string value;
        const auto withValue = std::find_if(valued.begin(), valued.end(), [&](const std::string& option) {
            return reader.option(option, value, error);
        });
        if (withValue != valued.end()) {
            if (error.empty()) readStationOption(*withValue, value, station, error);
        } else if (reader.peek() == "--allow-new-ids") {
            reader.next();
            station.allowNewIds = true;
        } else if (reader.peek() == "--scan") {
            reader.next();
            request.scan = true;
        } else if (reader.peek().rfind("-", 0) == 0 && reader.peek() != "-") {
            error = text::unknownOption("station", reader.next());
        } else if (station.imagePath.empty()) {
            station.imagePath = reader.next();
        } else {
            error = text::unexpectedArgument("station", reader.next());
        }
    }
    if (error.empty() && station.imagePath.empty())
        error = text::missingArgument("station", "the image FILE");
    if (error.empty()) checkStationRequest(station, error);
    return error.empty();
}

// SIGINT counted for the station while it runs.
class InterruptRoute {
public:
    InterruptRoute(host::SignalDeferral* owner, std::atomic<int>& interrupts) : owner_(owner) {
        if (owner_ != nullptr) owner_->routeInterrupts(&interrupts);
    }
    ~InterruptRoute() {
        if (owner_ != nullptr) owner_->routeInterrupts(nullptr);
    }
    InterruptRoute(const InterruptRoute&) = delete;
    InterruptRoute& operator=(const InterruptRoute&) = delete;

private:
    host::SignalDeferral* owner_;
};

// The runs not yet writing a flash are left as they are: their history rows stay
// unfinished, and the hubs named above may need another update. A unit inside its
// flash span is let finish: the process ends as the last one leaves it.
[[noreturn]] void abandon(const CommandContext& command, std::ostream& out) {
    out.flush();
    const int status = static_cast<int>(ExitStatus::WorkflowFailed);
    if (command.signalOwner != nullptr) {
        command.signalOwner->exitAfterSpans(status);
        for (;;) ::pause();
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace

ExitStatus runStation(const CommandContext& command) {
    StationCommandRequest request;
    std::string error;
    if (!readRequest(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    // The update's rules, before the first unit: an image the flash cannot hold or
    // whose IDs the configuration does not list never reaches a hub, and the
    // figures' file replaces nothing this run reads or writes.
    const RunPlan plan =
        stationPlan(request.station, commandPlan(command, "station", PlanHubs::EachArriving));
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    noteSignature(command, admitted.image->signature, false);
    bool serverAway = false;
    std::unique_ptr<StationSetup> setup = StationSetup::prepare(
        session->environment(), request.station, std::move(*admitted.image),
        [&session](const std::string& line) { session->console().line(line); }, error, serverAway);
    if (!setup) return command.fail(serverAway ? ExitStatus::WorkflowFailed : ExitStatus::BadUsage, error);
    std::ostream& out = command.streams.out;
    for (const std::string& address : setup->metricsAddresses())
        out << text::metricsServed(address) << std::flush;
    std::mutex outMutex;  // the station's lines and the scans' answers, one whole line at a time
    const auto show = [&out, &outMutex](const std::string& line) {
        std::lock_guard lock(outMutex);
        out << line;
        out.flush();
    };
    UnitIdQueue unitIds;
    StationContext context = setup->context(show, nullptr, request.scan ? &unitIds : nullptr);
    // Who signed the image, in the station's header.
    for (const std::string& line : setup->signature().signerLines) out << text::printable(line) << '\n';
    // Raised by the operator's Ctrl-C (through the process's signal owner); the
    // station looks at it between its looks at the bus.
    std::atomic<int> interrupts{0};
    static_assert(std::atomic<int>::is_always_lock_free);
    const InterruptRoute route(command.signalOwner, interrupts);
    Station station(std::move(context), setup->image(), request.station.imagePath, request.station.settings);
    std::optional<ScanReader> scanner;
    if (request.scan)
        scanner.emplace(STDIN_FILENO,
                        [&station, &show](const std::string& line) { show(station.scan(line).line + "\n"); });
    if (station.run(interrupts) == StationEnd::Abandoned) abandon(command, out);
    scanner.reset();
    station.waitForUnits();
    return station.units().exitStatus() == 0 ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

}  // namespace velmora::cli
