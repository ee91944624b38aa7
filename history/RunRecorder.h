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
#include "workflows/RunObserver.h"

namespace velmora {

class RunRecorder final : public RunObserver {
public:
    // Told once, from the thread of the run that met it, why nothing is recorded.
    using ProblemCallback = std::function<void(const std::string& problem)>;

    // path: the database file. createFolders: the default path's folders may be
    // made; a file the user named must lie in a folder that exists. Phases are
    // timed with clock, the run's own (virtual in tests).
    RunRecorder(std::string path, bool createFolders, Clock& clock, ProblemCallback onProblem);
    ~RunRecorder() override;

    std::unique_ptr<RunLog> runStarted(const RunStart& start) override;

    // Used by the runs' logs: each writes its row through here, one at a time.
    bool write(history::HistoryRecord& record, bool insert);
    Clock& clock() { return clock_; }

private:
    bool openLocked();
    void failLocked(const std::string& problem);

    std::string path_;
    bool createFolders_;
    Clock& clock_;
    ProblemCallback onProblem_;
    std::mutex mutex_;
    std::unique_ptr<history::HistoryDatabase> database_;
    bool givenUp_ = false;
};

// "velmora history: <path>: <reason>; this run is not recorded": the line both
// front ends show once.
std::string historyProblemLine(const std::string& path, const std::string& reason);

}  // namespace velmora
