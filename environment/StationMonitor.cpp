#include "environment/StationMonitor.h"

#include "app/IsoTime.h"
#include "environment/EnvironmentMessages.h"

namespace velmora {

StationMonitor::StationMonitor(const std::string& station, WaitingRowsCount waiting)
    : figures_(station, VELMORA_PROGRAM_VERSION), waiting_(std::move(waiting)) {}

std::unique_ptr<StationMonitor> StationMonitor::start(const MonitorSettings& settings,
                                                      const std::string& station, WaitingRowsCount waiting,
                                                      std::function<void(const std::string&)> tell,
                                                      std::string& error) {
    std::unique_ptr<StationMonitor> monitor(new StationMonitor(station, std::move(waiting)));
    const metrics::MetricsSource source = [figures = &monitor->figures_](metrics::ExpositionFormat format) {
        return figures->render(format);
    };
    if (settings.file) {
        std::string problem;
        if (!metrics::checkMetricsFile(*settings.file, problem)) {
            error = messages::metricsOptionProblem("--metrics-file", problem);
            return nullptr;
        }
    }
    if (settings.listen) {
        std::string problem;
        monitor->server_ = metrics::MetricsServer::start(*settings.listen, source, problem);
        if (!monitor->server_) {
            error = messages::metricsOptionProblem("--metrics", problem);
            return nullptr;
        }
    }
    if (settings.file) {
        monitor->file_ = std::make_unique<metrics::MetricsFile>(*settings.file, source, std::move(tell));
        monitor->file_->update();
    }
    if (monitor->waiting_) {
        // Rows the server refused still wait in the file: counted there too.
        monitor->figures_.setRefusedRows(0);
        monitor->counter_ = std::thread([raw = monitor.get()] { raw->countWaitingRows(); });
    }
    return monitor;
}

StationMonitor::~StationMonitor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (counter_.joinable()) counter_.join();
    if (file_) file_->update();
}

std::vector<std::string> StationMonitor::addresses() const {
    return server_ ? server_->addresses() : std::vector<std::string>{};
}

void StationMonitor::flushFile() {
    if (file_) file_->flush();
}

void StationMonitor::unitStarted(const std::string& port) {
    figures_.unitStarted(port);
}

void StationMonitor::phaseEnded(RunPhase phase, double seconds) {
    figures_.phaseEnded(runPhaseName(phase), seconds);
}

void StationMonitor::unitFinished(const std::string& port, bool passed, const std::string& failedPhase) {
    figures_.unitFinished(port, passed ? metrics::UnitResult::Passed : metrics::UnitResult::Failed,
                          failedPhase);
    {
        std::lock_guard lock(mutex_);
        unitEnded_ = true;
    }
    wake_.notify_all();
    updateFile();
}

void StationMonitor::serialsLeft(std::uint64_t count) {
    figures_.setSerialsLeft(count);
}

void StationMonitor::takingUnits(bool taking) {
    {
        // Told at every look at the bus: the file is written only when it changes.
        std::lock_guard lock(mutex_);
        if (taking_ == taking) return;
        taking_ = taking;
    }
    figures_.setTakingUnits(taking);
    updateFile();
}

void StationMonitor::updateFile() {
    if (file_) file_->update();
}

// A unit's end writes its row: the count is taken then, and between units every
// few seconds, as the sender sends rows or the server stays away.
void StationMonitor::countWaitingRows() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        unitEnded_ = false;
        lock.unlock();
        if (const std::optional<history::WaitingRows> rows = waiting_()) {
            const std::optional<WallTime> oldest = parseIsoTime(rows->oldestWritten);
            const double age = oldest ? std::chrono::duration<double>(wallNow() - *oldest).count() : 0;
            figures_.setWaitingRows(rows->count, age);
            figures_.setRefusedRows(rows->refused);
            updateFile();
        }
        lock.lock();
        wake_.wait_for(lock, kWaitingRowsLook, [this] { return stopping_ || unitEnded_; });
    }
}

}  // namespace velmora
