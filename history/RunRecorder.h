#pragma once
// The traceability history behind the RunObserver: every run becomes a row of the
// history database, written when the run starts and completed when it ends. The
// database is opened on the first run. A history that cannot be opened or written
// never stops a run: the run goes on, the problem is told once through the
// front end's callback, and nothing more is recorded in this process.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device/Clock.h"
#include "history/HistoryDatabase.h"
#include "history/HistorySender.h"
#include "history/LogCheckpointer.h"
#include "workflows/RunObserver.h"

namespace velmora {

// Where and as what the runs are recorded.
struct RecorderSettings {
    std::string path;  // the station's own file
    // The default path's folders may be made; a file the user named must lie in a
    // folder that exists.
    bool createFolders = true;
    std::string station;  // the station's name in every row; empty: the host name
    std::string origin;   // history::kOriginSimulated or kOriginReplayed, empty for a real hub
    // A line's server every row is sent to after the file; empty: none.
    std::string serverUri;
    history::RetryPlan retry;
};

class RunRecorder final : public RunObserver {
public:
    // Told once, from the thread of the run that met it, why nothing is recorded.
    using ProblemCallback = std::function<void(const std::string& problem)>;

    // path: the database file. createFolders: the default path's folders may be
    // made; a file the user named must lie in a folder that exists. Phases are
    // timed with clock, the run's own (virtual in tests).
    RunRecorder(std::string path, bool createFolders, Clock& clock, ProblemCallback onProblem);
    // The same with a station's name, the hub's origin and perhaps a server. The
    // callback also hears the server's comings and goings.
    RunRecorder(RecorderSettings settings, Clock& clock, ProblemCallback onProblem);
    ~RunRecorder() override;

    std::unique_ptr<RunLog> runStarted(const RunStart& start) override;

    // Used by the runs' logs: each writes its row through here, one at a time.
    bool write(history::HistoryRecord& record, bool insert);
    Clock& clock() { return clock_; }

private:
    bool openLocked();
    void failLocked(const std::string& problem);

    RecorderSettings settings_;
    Clock& clock_;
    ProblemCallback onProblem_;
    std::mutex mutex_;
    std::unique_ptr<history::HistoryDatabase> database_;
    bool givenUp_ = false;
    std::unique_ptr<history::LogCheckpointer> checkpointer_;  // made with the database
    std::unique_ptr<history::HistorySender> sender_;          // made with the database when a server is named
};

// "velmora history: <path>: <reason>; this run is not recorded": the line both
// front ends show once.
std::string historyProblemLine(const std::string& path, const std::string& reason);

}  // namespace velmora
