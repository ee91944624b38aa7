#include "cli/StationCommand.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/CliText.h"
#include "cli/HubSession.h"
#include "cli/ImageFile.h"
#include "production/HubFleet.h"
#include "production/Station.h"

namespace velmora::cli {
namespace {

// Raised by the operator's Ctrl-C; the station looks at it between its looks at the bus.
std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void countInterrupt(int) {
    interrupts.fetch_add(1);
}

struct StationRequest {
    std::string imagePath;
    StationSettings settings;
    bool allowNewIds = false;
};

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
    if (value.size() != 4 || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        error = text::notFourHexDigits("--expect-version", value);
        return false;
    }
    request.settings.expectVersion = static_cast<std::uint16_t>(std::strtoul(value.c_str(), nullptr, 16));
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
    return error.empty();
}

}  // namespace

ExitStatus runStation(const CommandContext& command) {
    StationRequest request;
    std::string error;
    if (!readRequest(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    auto session = HubSession::open(command, error);
    if (!session) return command.fail(ExitStatus::BadUsage, error);
    // The update's rules, before the first unit: an image the flash cannot hold or
    // whose IDs the configuration does not list never reaches a hub.
    ImageAdmission admission =
        session->environment().admitImage(request.imagePath, ImageUse::Update, request.allowNewIds);
    if (!admission.admitted()) return command.fail(ExitStatus::BadUsage, refusalLine(admission));
    FirmwareBuffer& image = command.buffers.easyUpdate;
    image = std::move(admission.image);
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
                           session->backups()};
    interrupts = 0;
    std::signal(SIGINT, countInterrupt);
    Station station(std::move(context), image, request.imagePath, request.settings);
    if (station.run(interrupts) == StationEnd::Abandoned) {
        // The runs in progress are left as they are: their history rows stay
        // unfinished, and the hubs named above may need another update.
        out.flush();
        std::fflush(nullptr);
        std::_Exit(static_cast<int>(ExitStatus::WorkflowFailed));
    }
    station.waitForUnits();
    std::signal(SIGINT, SIG_DFL);
    return station.units().exitStatus() == 0 ? ExitStatus::Success : ExitStatus::WorkflowFailed;
}

}  // namespace velmora::cli
