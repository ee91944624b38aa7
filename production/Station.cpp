#include "production/Station.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "app/TextFormat.h"
#include "device/VendorCommands.h"
#include "production/HubFleet.h"
#include "workflows/EasyUpdate.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

// A unit's pane is not shown: only its first red line, which says why it failed.
class UnitReporter final : public WorkflowReporter {
public:
    void resetProgressInfo() override {}
    void appendProgressInfo_Blue(const std::string&) override {}
    void appendProgressInfo_Red(const std::string& text) override {
        if (failure.empty()) failure = text;
    }
    void updateProgressBar(double, ProgressDelivery) override {}
    void showAlert(const std::string&) override {}
    void SetButtonStatus(bool) override {}
    void readFinished_FwFlash(const std::function<void()>& store) override { store(); }

    std::string failure;
};

std::string oneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string joined(const std::vector<std::string>& ports) {
    std::string text;
    for (const std::string& port : ports) text += (text.empty() ? "" : ", ") + port;
    return text;
}

// The hub's status, read over a short open of its own.
std::optional<HubStatus> unitStatus(HubConnection& connection) {
    std::optional<HubStatus> status;
    if (connection.openHub()) status = VC_ReadHubStatus(connection);
    connection.closeHub();
    return status;
}

}  // namespace

Station::Station(StationContext context, const FirmwareBuffer& image, std::string imagePath,
                 StationSettings settings)
    : context_(std::move(context)),
      image_(image),
      imagePath_(std::move(imagePath)),
      units_(std::move(settings)) {}

Station::~Station() {
    waitForUnits();
}

StationEnd Station::run(const std::atomic<int>& interrupts) {
    // The station's own thread counts as a worker of the clock while it runs, so
    // that virtual time moves only when it and every unit run sleep.
    const WorkerGroup::Membership membership(context_.clock);
    show(messages::kStationWaiting);
    while (true) {
        if (!takeInterrupts(interrupts)) return StationEnd::Abandoned;
        const std::vector<std::string> starting =
            units_.observe(supportedHubPorts(context_.platform, context_.table));
        for (const std::string& port : starting) startUnit(port);
        if (!starting.empty()) showTally();
        if (units_.done()) return StationEnd::Finished;
        context_.clock.sleepFor(kStationLookInterval);
    }
}

bool Station::takeInterrupts(const std::atomic<int>& interrupts) {
    while (interruptsSeen_ < interrupts.load()) {
        ++interruptsSeen_;
        const std::vector<std::string> running = units_.inProgress();
        if (units_.interrupt() == StationStop::Abandoning) {
            if (!running.empty())
                show(formatText(messages::kStationAbandonedFormat, joined(running).c_str()));
            return false;
        }
        show(running.empty() ? std::string(messages::kStationStopped)
                             : formatText(messages::kStationDrainingFormat, joined(running).c_str()));
    }
    return true;
}

void Station::startUnit(const std::string& port) {
    workers_.start([this, port] { runUnit(port); });
}

void Station::runUnit(const std::string& port) {
    const Milliseconds start = context_.clock.now();
    std::unique_ptr<HubConnection> connection = context_.connect(port);
    UnitReporter reporter;
    bool succeeded = false;
    std::optional<HubStatus> statusBefore;
    std::optional<HubStatus> statusAfter;
    {
        PortHold hold(*connection);
        statusBefore = unitStatus(*connection);
        const WorkflowContext context{reporter, *connection, nullptr, context_.console, context_.observer};
        succeeded = updateFuncAs(context, image_, imagePath_, "station", imagePath_);
        if (succeeded) statusAfter = unitStatus(*connection);
    }
    const bool present = connection->isHubPresent();
    const UnitVerdict verdict = units_.finish(port, succeeded, statusAfter, present);
    const double seconds = std::chrono::duration<double>(context_.clock.now() - start).count();
    if (verdict.passed) {
        show(formatText(messages::kStationUnitPassedFormat, port.c_str(),
                        runningVersionText(statusBefore).c_str(), runningVersionText(statusAfter).c_str(),
                        seconds));
    } else {
        const std::string why =
            verdict.versionMismatch.empty() ? oneLine(reporter.failure) : verdict.versionMismatch;
        show(formatText(messages::kStationUnitFailedFormat, port.c_str(), why.c_str(), seconds));
    }
    showTally();
}

void Station::waitForUnits() {
    workers_.join();
}

void Station::show(const std::string& line) {
    std::lock_guard lock(showMutex_);
    context_.show(line);
}

void Station::showTally() {
    const StationTally tally = units_.tally();
    show(formatText(messages::kStationTallyFormat, tally.passed, tally.failed, tally.inProgress));
}

}  // namespace velmora
