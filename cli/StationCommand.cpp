#include "cli/StationCommand.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/Hex.h"
#include "app/SafeFile.h"
#include "cli/CliText.h"
#include "cli/CommandPlan.h"
#include "cli/HubSession.h"
#include "cli/ImageFile.h"
#include "environment/EnvironmentMessages.h"
#include "environment/StationMonitor.h"
#include "host/SignalDeferral.h"
#include "metrics/ListenAddress.h"
#include "production/HubFleet.h"
#include "production/Station.h"
#include "production/StationSerials.h"
#include "workflows/UnitSerial.h"

namespace velmora::cli {
namespace {

// The most numbers one block may hold, and the highest first number.
constexpr std::uint64_t kMostSerialBlock = 100000;
constexpr std::uint64_t kMostSerialStart = 999999999999999999ULL;

// The station's name when none is given: the host's, one station per host.
std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
    return name;
}

struct StationRequest {
    std::string imagePath;
    StationSettings settings;
    bool allowNewIds = false;
    // Each unit's own serial number: set by --serial-digits (and --serial-prefix).
    std::optional<std::string> serialPrefix;
    std::optional<int> serialDigits;
    std::uint64_t serialStart = 1;
    std::uint64_t serialBlock = kDefaultSerialBlock;
    MonitorSettings monitor;  // --metrics, --metrics-file
};

bool readNumber(const std::string& option, const std::string& value, std::uint64_t least, std::uint64_t most,
                std::uint64_t& number, std::string& error) {
    const std::optional<std::uint64_t> read = wholeNumber(value, least, most);
    if (!read) {
        error = text::badStationNumber(option, value, least, most);
        return false;
    }
    number = *read;
    return true;
}

// The serial options, when the word is one of them.
bool readSerialOption(ArgumentReader& reader, StationRequest& request, std::string& error) {
    std::string value;
    std::uint64_t number = 0;
    if (reader.option("--serial-prefix", value, error)) {
        request.serialPrefix = value;
    } else if (reader.option("--serial-digits", value, error)) {
        if (error.empty() && readNumber("--serial-digits", value, 1, kMostSerialDigits, number, error))
            request.serialDigits = static_cast<int>(number);
    } else if (reader.option("--serial-start", value, error)) {
        if (error.empty() && readNumber("--serial-start", value, 0, kMostSerialStart, number, error))
            request.serialStart = number;
    } else if (reader.option("--serial-block", value, error)) {
        if (error.empty() && readNumber("--serial-block", value, 1, kMostSerialBlock, number, error))
            request.serialBlock = number;
    } else {
        return false;
    }
    return true;
}

// The metrics options, when the word is one of them. The address is read here,
// so a mistyped one ends the command before anything else is done.
bool readMetricsOption(ArgumentReader& reader, StationRequest& request, std::string& error) {
    std::string value;
    if (reader.option("--metrics", value, error)) {
        std::string problem;
        if (error.empty() && !metrics::parseListenAddress(value, problem))
            error = text::stationMetrics(messages::metricsOptionProblem("--metrics", problem));
        request.monitor.listen = value;
    } else if (reader.option("--metrics-file", value, error)) {
        request.monitor.file = value;
    } else {
        return false;
    }
    return true;
}

bool readCount(const std::string& value, StationRequest& request, std::string& error) {
    char* end = nullptr;
    const long count = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || count < 1 || count > 1000000) {
        error = text::badStationCount(value);
        return false;
    }
    request.settings.count = static_cast<int>(count);
    return true;
}

// Exactly four hex digits, as the command line takes every ID and version.
bool readExpectedVersion(const std::string& value, StationRequest& request, std::string& error) {
    const std::optional<std::uint64_t> version = parseHexDigits(value, 4);
    if (!version) {
        error = text::notFourHexDigits("--expect-version", value);
        return false;
    }
    request.settings.expectVersion = static_cast<std::uint16_t>(*version);
    return true;
}

bool readRequest(const CommandContext& command, StationRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        std::string value;
        if (reader.peek() == "--allow-new-ids") {
            reader.next();
            request.allowNewIds = true;
        } else if (reader.option("--count", value, error)) {
            if (error.empty()) readCount(value, request, error);
        } else if (reader.option("--expect-version", value, error)) {
            if (error.empty()) readExpectedVersion(value, request, error);
        } else if (readSerialOption(reader, request, error) || readMetricsOption(reader, request, error)) {
        } else if (reader.peek().rfind("-", 0) == 0 && reader.peek() != "-") {
            error = text::unknownOption("station", reader.next());
        } else if (request.imagePath.empty()) {
            request.imagePath = reader.next();
        } else {
            error = text::unexpectedArgument("station", reader.next());
        }
    }
    if (error.empty() && request.imagePath.empty())
        error = text::missingArgument("station", "the image FILE");
    if (error.empty() && request.serialPrefix && !request.serialDigits)
        error = text::missingArgument("station --serial-prefix", "the number's digits (--serial-digits N)");
    if (error.empty() && request.serialDigits &&
        request.serialStart > SerialFormat{{}, *request.serialDigits}.lastNumber())
        error = text::serialStartTooLarge(request.serialStart, *request.serialDigits);
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

// A station without serial numbers holds its name too, as one with them does,
// so two stations of one name never both run and merge in the record. Where
// the history cannot be reached (a server away) the name goes unchecked: the
// station runs, as its runs wait on it anyway. False with error when the name
// is another running station's.
bool holdStationName(const CommandContext& command, HubEnvironment& environment,
                     std::unique_ptr<SerialNumberSource>& holder, std::string& error) {
    bool serverAway = false;
    std::string unreachable;
    holder = environment.openSerialNumbers(unreachable, serverAway);
    if (!holder) return true;
    const std::string name = command.options.stationName.empty() ? hostName() : command.options.stationName;
    if (holder->beginStation(name, error)) return true;
    holder.reset();
    return false;
}

}  // namespace

ExitStatus runStation(const CommandContext& command) {
    StationRequest request;
    std::string error;
    if (!readRequest(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    // The update's rules, before the first unit: an image the flash cannot hold or
    // whose IDs the configuration does not list never reaches a hub; and the
    // figures' file replaces nothing this run reads or writes.
    RunPlan plan = commandPlan(command, "station", PlanHubs::EachArriving);
    plan.bytes = {BytesSource::ImageFile, request.imagePath, ImageUse::Update, request.allowNewIds};
    plan.reads = {request.imagePath};
    if (request.monitor.file) plan.writes = {{*request.monitor.file, OutputKind::MetricsFile}};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, session->environment(), plan, admitted)) return *refused;
    ImageAdmission admission = std::move(*admitted.image);
    const ImageSignature signature = std::move(admission.signature);
    noteSignature(command, signature, false);
    FirmwareBuffer& image = command.buffers.easyUpdate;
    image = std::move(admission.image);
    const std::string stationName =
        command.options.stationName.empty() ? hostName() : command.options.stationName;
    // The figures' address bound and their file checked before the first unit
    // (and before a block of serial numbers is taken).
    std::unique_ptr<StationMonitor> monitor;
    if (request.monitor.wanted()) {
        monitor = StationMonitor::start(
            request.monitor, stationName, session->environment().waitingRowsCount(),
            [&session](const std::string& line) { session->console().line(line); }, error);
        if (!monitor) return command.fail(ExitStatus::BadUsage, text::stationMetrics(error));
        for (const std::string& address : monitor->addresses())
            command.streams.out << text::metricsServed(address) << std::flush;
    }
    // The serial numbers, before the first unit: the longest must fit the image,
    // and the station's name and its first block are taken from the history.
    std::unique_ptr<SerialNumberSource> counter;
    std::optional<StationSerials> serials;
    if (request.serialDigits) {
        SerialSettings settings{{request.serialPrefix.value_or(""), *request.serialDigits},
                                request.serialStart,
                                request.serialBlock,
                                stationName};
        if (!serialFitsImage(image, settings.format.serialBytes()))
            return command.fail(ExitStatus::BadUsage, serialTooLong(image, settings.format.serialBytes()));
        bool serverAway = false;
        counter = session->environment().openSerialNumbers(error, serverAway);
        if (!counter)
            return command.fail(serverAway ? ExitStatus::WorkflowFailed : ExitStatus::BadUsage,
                                text::stationSerials(error));
        serials.emplace(*counter, std::move(settings));
        if (!serials->begin(error)) return command.fail(ExitStatus::BadUsage, text::stationSerials(error));
    } else if (!holdStationName(command, session->environment(), counter, error)) {
        return command.fail(ExitStatus::BadUsage, text::stationName(error));
    }
    std::ostream& out = command.streams.out;
    StationContext context{session->clock(),
                           session->platform(),
                           session->config().table,
                           [&session](const std::string& port) { return session->connectionTo(port); },
                           [&out](const std::string& line) {
                               out << line;
                               out.flush();
                           },
                           session->recorder(),
                           &session->console(),
                           session->backups(),
                           serials ? &*serials : nullptr,
                           &session->environment().runIds(),
                           monitor.get(),
                           &signature};
    // Who signed the image, in the station's header.
    for (const std::string& line : signature.signerLines) out << text::printable(line) << '\n';
    // Raised by the operator's Ctrl-C (through the process's signal owner); the
    // station looks at it between its looks at the bus.
    std::atomic<int> interrupts{0};
    static_assert(std::atomic<int>::is_always_lock_free);
    const InterruptRoute route(command.signalOwner, interrupts);
    Station station(std::move(context), image, request.imagePath, request.settings);
    if (station.run(interrupts) == StationEnd::Abandoned) abandon(command, out);
    station.waitForUnits();
    return station.units().exitStatus() == 0 ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

}  // namespace velmora::cli
