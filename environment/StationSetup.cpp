#include "environment/StationSetup.h"

#include <unistd.h>

#include <climits>

#include "app/Hex.h"
#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "environment/EnvironmentMessages.h"
#include "environment/HubEnvironment.h"
#include "metrics/ListenAddress.h"
#include "workflows/UnitSerial.h"

namespace velmora {
namespace {

// The most numbers one block may hold, and the highest first number.
constexpr std::uint64_t kMostSerialBlock = 100000;
constexpr std::uint64_t kMostSerialStart = 999999999999999999ULL;
constexpr std::uint64_t kMostCount = 1000000;

// The station's name when none is given: the host's, one station per host.
std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
    return name;
}

std::string stationLine(const std::string& reason) {
    return "station: " + printableText(reason);
}

bool readNumber(const std::string& option, const std::string& value, std::uint64_t least, std::uint64_t most,
                std::uint64_t& number, std::string& error) {
    const std::optional<std::uint64_t> read = wholeNumber(value, least, most);
    if (!read) {
        error = stationLine(option + " takes a number from " + std::to_string(least) + " to " +
                            std::to_string(most) + ", not '" + value + "'");
        return false;
    }
    number = *read;
    return true;
}

}  // namespace

bool readStationOption(const std::string& option, const std::string& value, StationRequest& request,
                       std::string& error) {
    std::uint64_t number = 0;
    if (option == "--count") {
        if (!wholeNumber(value, 1, kMostCount)) {
            error = stationLine("--count takes a number of units from 1, not '" + value + "'");
            return false;
        }
        request.settings.count = static_cast<int>(*wholeNumber(value, 1, kMostCount));
    } else if (option == "--expect-version") {
        // Exactly four hex digits, as every ID and version is given.
        const std::optional<std::uint64_t> version = parseHexDigits(value, 4);
        if (!version) {
            error = stationLine("--expect-version: expected four hex digits, got '" + value + "'");
            return false;
        }
        request.settings.expectVersion = static_cast<std::uint16_t>(*version);
    } else if (option == "--serial-prefix") {
        request.serialPrefix = value;
    } else if (option == "--serial-digits") {
        if (!readNumber(option, value, 1, kMostSerialDigits, number, error)) return false;
        request.serialDigits = static_cast<int>(number);
    } else if (option == "--serial-start") {
        if (!readNumber(option, value, 0, kMostSerialStart, number, error)) return false;
        request.serialStart = number;
    } else if (option == "--serial-block") {
        if (!readNumber(option, value, 1, kMostSerialBlock, number, error)) return false;
        request.serialBlock = number;
    } else if (option == "--metrics") {
        // Read here, so a mistyped address ends the start before anything else is done.
        std::string problem;
        if (!metrics::parseListenAddress(value, problem)) {
            error = stationLine(messages::metricsOptionProblem("--metrics", problem));
            return false;
        }
        request.monitor.listen = value;
    } else if (option == "--metrics-file") {
        request.monitor.file = value;
    } else {
        error = stationLine("unknown option " + option);
        return false;
    }
    return true;
}

bool checkStationRequest(const StationRequest& request, std::string& error) {
    if (request.serialPrefix && !request.serialDigits) {
        error = "station --serial-prefix: missing the number's digits (--serial-digits N)";
    } else if (request.serialDigits &&
               request.serialStart > SerialFormat{{}, *request.serialDigits}.lastNumber()) {
        error = stationLine("--serial-start " + std::to_string(request.serialStart) + " has more than the " +
                            std::to_string(*request.serialDigits) + " digits of --serial-digits");
    }
    return error.empty();
}

RunPlan stationPlan(const StationRequest& request, RunPlan plan) {
    plan.hubs = PlanHubs::EachArriving;
    plan.bytes = {BytesSource::ImageFile, request.imagePath, ImageUse::Update, request.allowNewIds};
    plan.reads = {request.imagePath};
    if (request.monitor.file) plan.writes = {{*request.monitor.file, OutputKind::MetricsFile}};
    return plan;
}

std::string stationNameOf(const StationRequest& request) {
    return request.stationName.empty() ? hostName() : request.stationName;
}

StationSetup::StationSetup(HubEnvironment& environment, const StationRequest& request,
                           ImageAdmission admitted)
    : environment_(environment),
      request_(request),
      name_(stationNameOf(request)),
      image_(std::move(admitted.image)),
      signature_(std::move(admitted.signature)) {}

StationSetup::~StationSetup() = default;

std::unique_ptr<StationSetup> StationSetup::prepare(HubEnvironment& environment,
                                                    const StationRequest& request, ImageAdmission admitted,
                                                    std::function<void(const std::string&)> tell,
                                                    std::string& error, bool& serverAway) {
    serverAway = false;
    std::unique_ptr<StationSetup> setup(new StationSetup(environment, request, std::move(admitted)));
    // The figures' address bound and their file checked before the first unit
    // (and before a block of serial numbers is taken).
    if (!setup->startMonitor(std::move(tell), error)) return nullptr;
    const bool ready = request.serialDigits ? setup->takeSerials(error, serverAway) : setup->holdName(error);
    return ready ? std::move(setup) : nullptr;
}

bool StationSetup::startMonitor(std::function<void(const std::string&)> tell, std::string& error) {
    const MonitorSettings& wanted = request_.monitor;
    // The figures' file passed the station's plan: it replaces no file the run
    // depends on.
    if (!wanted.wanted()) return true;
    monitor_ = StationMonitor::start(wanted, name_, environment_.waitingRowsCount(), std::move(tell), error);
    if (!monitor_) error = stationLine(error);
    return monitor_ != nullptr;
}

// The serial numbers, before the first unit: the longest must fit the image,
// and the station's name and its first block are taken from the history.
bool StationSetup::takeSerials(std::string& error, bool& serverAway) {
    SerialSettings settings{{request_.serialPrefix.value_or(""), *request_.serialDigits},
                            request_.serialStart,
                            request_.serialBlock,
                            name_};
    if (!serialFitsImage(image_, settings.format.serialBytes())) {
        error = serialTooLong(image_, settings.format.serialBytes());
        return false;
    }
    counter_ = environment_.openSerialNumbers(error, serverAway);
    if (counter_) {
        serials_.emplace(*counter_, std::move(settings));
        if (serials_->begin(error)) return true;
    }
    error = stationLine("serial numbers: " + error);
    return false;
}

// A station without serial numbers holds its name too, as one with them does,
// so two stations of one name never both run and merge in the record. Where
// the history cannot be reached (a server away) the name goes unchecked: the
// station runs, as its runs wait on it anyway.
bool StationSetup::holdName(std::string& error) {
    bool serverAway = false;
    std::string unreachable;
    counter_ = environment_.openSerialNumbers(unreachable, serverAway);
    if (!counter_ || counter_->beginStation(name_, error)) return true;
    counter_.reset();
    error = stationLine(error);
    return false;
}

StationContext StationSetup::context(std::function<void(const std::string&)> show, StationDisplay* display,
                                     UnitIdQueue* unitIds) {
    StationContext context{environment_.clock(),
                           environment_.platform(),
                           environment_.config().table,
                           [this](const std::string& port) { return environment_.connectionTo(port); },
                           std::move(show),
                           environment_.runObserver(),
                           &environment_.console(),
                           environment_.backups(),
                           serials_ ? &*serials_ : nullptr,
                           &environment_.runIds(),
                           monitor_.get(),
                           &signature_};
    context.display = display;
    context.unitIds = unitIds;
    return context;
}

std::vector<std::string> StationSetup::metricsAddresses() const {
    return monitor_ ? monitor_->addresses() : std::vector<std::string>{};
}

}  // namespace velmora
