#pragma once
// A station's figures for a line's monitoring, fed as the station runs: the
// station tells it each unit and phase (StationWatch), and it keeps them in a
// StationMetrics served at /metrics on the address asked for (--metrics) and
// written to a file for node_exporter's textfile collector (--metrics-file).
// Nothing it does holds up a unit: a unit's call updates the figures under the
// registry's short lock; the endpoint renders copies on its own threads, the
// file is written on its own, and the history rows waiting for the line's
// server are counted on a thread of its own, on a connection of its own.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "history/HistoryDatabase.h"
#include "metrics/MetricsFile.h"
#include "metrics/MetricsServer.h"
#include "metrics/StationMetrics.h"
#include "production/StationWatch.h"

namespace velmora {

// Where the figures go; neither: nowhere, and nothing is served.
struct MonitorSettings {
    std::optional<std::string> listen;  // ADDRESS:PORT for /metrics
    std::optional<std::string> file;    // a *.prom file
    bool wanted() const { return listen || file; }
};

// How often the rows waiting for the line's server are counted between units.
inline constexpr std::chrono::milliseconds kWaitingRowsLook{5000};

// The rows waiting for the line's server, as they are now; nothing when they
// cannot be counted now (the count is left as it was).
using WaitingRowsCount = std::function<std::optional<history::WaitingRows>()>;

class StationMonitor final : public StationWatch {
public:
    // Binds the address and checks the file, before any unit. Null with error
    // (naming the option) when either cannot be used. waiting: none when the
    // station sends to no server (then no such figures are exported). tell: the
    // file's failures and recoveries, for the operator.
    static std::unique_ptr<StationMonitor> start(const MonitorSettings& settings, const std::string& station,
                                                 WaitingRowsCount waiting,
                                                 std::function<void(const std::string&)> tell,
                                                 std::string& error);
    ~StationMonitor() override;  // the file is written a last time
    StationMonitor(const StationMonitor&) = delete;
    StationMonitor& operator=(const StationMonitor&) = delete;

    // Where /metrics is served ("127.0.0.1:9464"); empty when it is not.
    std::vector<std::string> addresses() const;
    const metrics::StationMetrics& figures() const { return figures_; }
    // Waits until the file holds what was asked of it before (tests).
    void flushFile();

    void unitStarted(const std::string& port) override;
    void phaseEnded(RunPhase phase, double seconds) override;
    void unitFinished(const std::string& port, bool passed, const std::string& failedPhase) override;
    void serialsLeft(std::uint64_t count) override;
    void takingUnits(bool taking) override;

private:
    StationMonitor(const std::string& station, WaitingRowsCount waiting);
    void countWaitingRows();
    void updateFile();

    metrics::StationMetrics figures_;
    WaitingRowsCount waiting_;
    std::unique_ptr<metrics::MetricsServer> server_;
    std::unique_ptr<metrics::MetricsFile> file_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool unitEnded_ = false;
    bool stopping_ = false;
    std::optional<bool> taking_;  // as last told
    std::thread counter_;         // counts the waiting rows; only with waiting_
};

}  // namespace velmora
