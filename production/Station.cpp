#include "production/Station.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "app/Console.h"
#include "app/TextFormat.h"
#include "device/VendorCommands.h"
#include "production/HubFleet.h"
#include "production/StationSerials.h"
#include "workflows/EasyUpdate.h"
#include "workflows/RunObserver.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {
namespace {

// A unit's pane is not shown: only its first red line, which says why it failed,
// and its progress, for the display.
class UnitReporter final : public WorkflowReporter {
public:
    explicit UnitReporter(std::function<void(double)> progress) : progress_(std::move(progress)) {}
    void resetProgressInfo() override {}
    void appendProgressInfo_Blue(const std::string&) override {}
    void appendProgressInfo_Red(const std::string& text) override {
        if (failure.empty()) failure = text;
    }
    void updateProgressBar(double value, ProgressDelivery) override { progress_(value); }
    void showAlert(const std::string&) override {}
    void SetButtonStatus(bool) override {}
    void readFinished_FwFlash(const std::function<void()>& store) override { store(); }

    std::string failure;

private:
    std::function<void(double)> progress_;
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

// A unit's record in the history ends only once the station has judged the unit:
// a run that succeeded on a hub that then runs another version than expected is
// a failed unit, and recorded as one, with that reason. It also times each phase
// of the run for the station's watch, and knows the phase a failed run ended in.
class UnitRecord final : public RunObserver {
public:
    // onPhase: told each phase as it starts. unitId: the unit's ID as it is now
    // (an ID scanned while the run goes on reaches the record at its next step).
    UnitRecord(RunObserver* history, StationWatch* watch, Clock& clock, std::function<void(RunPhase)> onPhase,
               std::function<std::string()> unitId)
        : history_(history),
          watch_(watch),
          clock_(clock),
          onPhase_(std::move(onPhase)),
          unitId_(std::move(unitId)) {}
    ~UnitRecord() override { settle({}); }
    UnitRecord(const UnitRecord&) = delete;
    UnitRecord& operator=(const UnitRecord&) = delete;

    std::unique_ptr<RunLog> runStarted(const RunStart& start) override {
        RunStart unit = start;
        recordedId_ = unitId_();
        if (!recordedId_.empty()) unit.unitId = recordedId_;
        if (history_ != nullptr) log_ = history_->runStarted(unit);
        return std::make_unique<Forwarder>(*this);
    }

    // Ends the record: as the run ended, or failed for the reason given.
    void settle(const std::string& failedBecause) {
        if (!log_ || !end_) return;
        if (end_->succeeded && !failedBecause.empty()) *end_ = RunEnd{false, failedBecause};
        takeUnitId();
        log_->ended(*end_);
        log_.reset();
    }

    // The phase the run was in when it ended; empty before its first.
    std::string lastPhase() const { return phase_ ? runPhaseName(*phase_) : ""; }

private:
    void phaseStarted(RunPhase phase) {
        endPhase();
        phase_ = phase;
        phaseStart_ = clock_.now();
        onPhase_(phase);
        takeUnitId();
        if (log_) log_->phaseStarted(phase);
    }
    void takeUnitId() {
        const std::string id = unitId_();
        if (!log_ || id == recordedId_) return;
        recordedId_ = id;
        log_->unitIdentified(id);
    }
    void endPhase() {
        if (!phase_ || watch_ == nullptr || phaseEnded_) return;
        watch_->phaseEnded(*phase_, std::chrono::duration<double>(clock_.now() - phaseStart_).count());
    }

    class Forwarder final : public RunLog {
    public:
        explicit Forwarder(UnitRecord& record) : record_(record) {}
        void phaseStarted(RunPhase phase) override { record_.phaseStarted(phase); }
        void hubSeen(const HubConnection::HubSighting& sighting) override {
            if (record_.log_) record_.log_->hubSeen(sighting);
        }
        void backedUp(const std::string& sha256) override {
            if (record_.log_) record_.log_->backedUp(sha256);
        }
        void serialRead(const std::string& serial) override {
            if (record_.log_) record_.log_->serialRead(serial);
        }
        void ended(const RunEnd& end) override {
            record_.endPhase();
            record_.phaseEnded_ = true;
            record_.end_ = end;
        }

    private:
        UnitRecord& record_;
    };

    RunObserver* history_;
    StationWatch* watch_;
    Clock& clock_;
    std::function<void(RunPhase)> onPhase_;
    std::function<std::string()> unitId_;
    std::string recordedId_;  // the ID the record holds
    std::unique_ptr<RunLog> log_;
    std::optional<RunEnd> end_;
    std::optional<RunPhase> phase_;
    Milliseconds phaseStart_{0};
    bool phaseEnded_ = false;  // the run ended: its last phase is timed
};

// The hub's status, read over a short open of its own.
std::optional<HubStatus> unitStatus(HubConnection& connection) {
    std::optional<HubStatus> status;
    if (connection.openHub()) status = VC_ReadHubStatus(connection);
    connection.closeHub();
    return status;
}

}  // namespace

// One running unit as the display sees it. Its report changes on the unit's run
// (phases, progress, the end) and on the front end's thread (a scanned ID), so
// it is kept under a lock of its own and shown from under it, in order.
class Station::UnitTrack {
public:
    UnitTrack(StationDisplay* display, Clock& clock, UnitReport report)
        : display_(display), clock_(clock), start_(clock.now()), report_(std::move(report)) {}

    template <typename Change>
    void change(Change&& what) {
        std::lock_guard lock(mutex_);
        what(report_);
        report_.seconds = std::chrono::duration<double>(clock_.now() - start_).count();
        if (display_ != nullptr) display_->unitReported(report_);
    }
    const std::string& port() const { return report_.port; }  // never changes
    std::string unitId() const {
        std::lock_guard lock(mutex_);
        return report_.unitId;
    }

private:
    StationDisplay* display_;
    Clock& clock_;
    Milliseconds start_;
    mutable std::mutex mutex_;
    UnitReport report_;
};

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
    if (context_.serials != nullptr && context_.watch != nullptr)
        context_.watch->serialsLeft(context_.serials->left());
    while (true) {
        if (!takeInterrupts(interrupts)) {
            watchTaking(false);
            endSerials();
            return StationEnd::Abandoned;
        }
        const std::vector<std::string> present = supportedHubPorts(context_.platform, context_.table);
        if (context_.display != nullptr) context_.display->portsPresent(present);
        const std::vector<std::string> starting = units_.observe(present);
        for (const std::string& port : starting) startUnit(port, interrupts);
        firstLook_ = false;
        if (!starting.empty()) {
            std::lock_guard verdictLock(verdictMutex_);
            showTally();
        }
        watchTaking(units_.takesNewUnits());
        if (units_.done()) {
            watchTaking(false);
            endSerials();
            return StationEnd::Finished;
        }
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

void Station::startUnit(const std::string& port, const std::atomic<int>& interrupts) {
    // A station runs for weeks: the threads of units that ended are joined as it
    // goes, or each would keep its stack until the station ends.
    workers_.joinEnded();
    // The operator's stop holds from the moment it comes: a unit seen before it
    // and not yet started is not started, however long its number took (a
    // server slow to answer). Its number, issued, is voided when the station ends.
    const auto stopped = [&] { return interruptsSeen_ < interrupts.load(); };
    if (stopped()) {
        units_.withdraw(port);
        return;
    }
    if (context_.serials == nullptr) {
        if (context_.watch != nullptr) context_.watch->unitStarted(port);
        workers_.start([this, track = trackUnit(port, {})] { runUnit(track, image_, std::nullopt); });
        return;
    }
    SerialTake taken = context_.serials->take();
    if (context_.watch != nullptr) context_.watch->serialsLeft(context_.serials->left());
    if (stopped()) {
        units_.withdraw(port);
        return;
    }
    std::optional<FirmwareBuffer> unitImage;
    if (taken.number) unitImage = imageWithSerial(image_, taken.serial);
    if (!unitImage) {
        // Checked before the first unit, so only an outage or the counter's end gets here.
        if (taken.number) context_.serials->finish(*taken.number, false, {});
        units_.withdrawAndHalt(port);
        if (!halted_) show(taken.stopLine);
        halted_ = true;
        return;
    }
    if (context_.watch != nullptr) context_.watch->unitStarted(port);
    workers_.start([this, track = trackUnit(port, taken.serial), unit = std::move(*unitImage),
                    number = taken.number] { runUnit(track, unit, number); });
}

std::shared_ptr<Station::UnitTrack> Station::trackUnit(const std::string& port, const std::string& serial) {
    UnitReport report;
    report.port = port;
    report.serial = serial;
    // Units arriving together are started in port order, so they take the waiting IDs in that order.
    if (context_.unitIds != nullptr) report.unitId = context_.unitIds->takeFor(port).value_or("");
    const bool waitsForId = firstLook_ && context_.unitIds != nullptr && report.unitId.empty();
    auto track = std::make_shared<UnitTrack>(context_.display, context_.clock, std::move(report));
    track->change([](UnitReport&) {});
    std::lock_guard lock(tracksMutex_);
    tracks_[port] = track;
    if (waitsForId) startedWithoutId_.push_back(port);
    return track;
}

std::optional<std::string> Station::startedUnitWithoutIdLocked() {
    while (!startedWithoutId_.empty()) {
        const auto track = tracks_.find(startedWithoutId_.front());
        if (track != tracks_.end() && track->second->unitId().empty()) return track->first;
        // Ended, or given an ID on its own tile: it takes none from the queue.
        startedWithoutId_.pop_front();
    }
    return std::nullopt;
}

ScanResult Station::scan(const std::string& text, const std::optional<std::string>& port) {
    if (context_.unitIds == nullptr) return {false, {}, "Unit IDs are not taken by this station"};
    std::optional<std::string> forPort = port;
    // Held to the end: a unit running there cannot end (and close its record)
    // between being found and being given the ID.
    std::lock_guard lock(tracksMutex_);
    // The units plugged in before the station started could not be scanned
    // first: the operator scans their labels now, and they take the IDs in
    // port order while they run, before any unit that comes later.
    if (!forPort) forPort = startedUnitWithoutIdLocked();
    ScanResult result = context_.unitIds->scan(text, forPort);
    if (!result.taken || !forPort) return result;
    if (!port) startedWithoutId_.pop_front();
    if (const auto track = tracks_.find(*forPort); track != tracks_.end()) {
        // Taken back at once: it is the ID of the unit running there, not of the next one.
        const std::optional<std::string> id = context_.unitIds->takeFor(*forPort);
        track->second->change([&id](UnitReport& report) { report.unitId = id.value_or(""); });
    } else {
        result.line = "Unit ID " + result.id + " waits for the next unit on port " + *forPort;
    }
    return result;
}

void Station::endSerials() {
    if (context_.serials == nullptr) return;
    std::string error;
    // Said to the operator, not only to the log: the numbers' marks wait somewhere.
    if (!context_.serials->end(error))
        show(formatText(messages::kStationSerialsNotClosedFormat, error.c_str()));
}

void Station::runUnit(const std::shared_ptr<UnitTrack>& track, const FirmwareBuffer& image,
                      std::optional<std::uint64_t> serial) {
    const std::string& port = track->port();
    const Milliseconds start = context_.clock.now();
    std::unique_ptr<HubConnection> connection = context_.connect(port);
    UnitReporter reporter([&track](double progress) {
        track->change([progress](UnitReport& report) { report.progress = progress; });
    });
    RunOutcome outcome;
    std::optional<HubStatus> statusBefore;
    std::optional<HubStatus> statusAfter;
    UnitRecord record(
        context_.observer, context_.watch, context_.clock,
        [&track](RunPhase phase) {
            track->change([phase](UnitReport& report) { report.phase = runPhaseName(phase); });
        },
        [&track] { return track->unitId(); });
    {
        PortHold hold(*connection);
        statusBefore = unitStatus(*connection);
        track->change(
            [&statusBefore](UnitReport& report) { report.versionBefore = runningVersionText(statusBefore); });
        const WorkflowContext context{reporter, *connection,      nullptr,         context_.console,
                                      &record,  context_.backups, context_.runIds, context_.imageSignature};
        outcome = updateFuncAs(context, image, imagePath_, RunOperation::Station, imagePath_);
        if (outcome.succeeded) statusAfter = unitStatus(*connection);
    }
    const bool present = connection->isHubPresent();
    // From here a scan for this port waits for the next unit there: the ID this
    // one has now is the one its record ends with.
    {
        std::lock_guard lock(tracksMutex_);
        if (const auto known = tracks_.find(port); known != tracks_.end() && known->second == track)
            tracks_.erase(known);
    }
    // The verdict, its line and the tally that counts it are shown together: no
    // other tally may count this unit before its line is out.
    std::lock_guard verdictLock(verdictMutex_);
    const UnitVerdict verdict = units_.finish(port, outcome.succeeded, statusAfter, present);
    record.settle(verdict.versionMismatch);
    if (context_.watch != nullptr) {
        const std::string failedPhase = verdict.passed                    ? ""
                                        : verdict.versionMismatch.empty() ? record.lastPhase()
                                                                          : kVersionCheckPhase;
        context_.watch->unitFinished(port, verdict.passed, failedPhase);
    }
    if (serial) context_.serials->finish(*serial, verdict.passed, outcome.run);
    const double seconds = std::chrono::duration<double>(context_.clock.now() - start).count();
    // A unit with a serial number of its own is named by it too: that is what the
    // label on the unit will say.
    std::string unit = image.serial.empty() || !serial ? port : port + " " + image.serial;
    // And by the ID scanned from its label.
    if (const std::string id = track->unitId(); !id.empty()) unit += " " + id;
    const std::string why = verdict.passed                    ? ""
                            : verdict.versionMismatch.empty() ? oneLine(reporter.failure)
                                                              : verdict.versionMismatch;
    track->change([&](UnitReport& report) {
        report.state = verdict.passed ? UnitState::Passed : UnitState::Failed;
        if (statusAfter) report.versionAfter = runningVersionText(statusAfter);
        report.failure = why;
    });
    if (verdict.passed) {
        show(formatText(messages::kStationUnitPassedFormat, unit.c_str(),
                        runningVersionText(statusBefore).c_str(), runningVersionText(statusAfter).c_str(),
                        seconds));
    } else {
        show(formatText(messages::kStationUnitFailedFormat, unit.c_str(), why.c_str(), seconds));
    }
    showTally();
}

void Station::waitForUnits() {
    workers_.join();
}

void Station::watchTaking(bool taking) {
    if (context_.watch != nullptr) context_.watch->takingUnits(taking);
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
