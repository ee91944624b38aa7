#pragma once
// The traceability history behind the RunObserver: every run becomes a row of the
// station's file, written when the run starts and completed when it ends, under
// the run's own name. The file is opened on the first run, through the access
// the process shares with its serial counter. A history that cannot be opened
// or written never stops a run: the run goes on, the problem is told once
// through the front end's callback, and nothing more is recorded in this process.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device/Clock.h"
#include "history/HistorySender.h"
#include "history/LineServer.h"
#include "history/LogCheckpointer.h"
#include "history/StationFile.h"
#include "workflows/RunObserver.h"
#include "workflows/RunOrigin.h"

namespace velmora {

// As what the runs are recorded, and whether they go on to a line's server.
struct RecorderSettings {
    std::string station{};  // the station's name in every row; empty: the host name
    RunOrigin origin = RunOrigin::Real;
    // The line's server every row is written for and sent to after the file;
    // none: no server.
    history::LineServer* server = nullptr;
    // The server is the one the station's own settings name: the real hubs' rows
    // written while none was named go to it too.
    bool stationsOwnServer = false;
    history::RetryPlan retry{};
};

class RunRecorder final : public RunObserver {
public:
    // Told once, from the thread of the run that met it, why nothing is recorded.
    using ProblemCallback = std::function<void(const std::string& problem)>;

    // The rows go to file (opened on the first run) and, when settings name one,
    // on to a server; the server and file outlive the recorder. Phases are timed
    // with clock, the run's own (virtual in tests). The callback also hears the
    // server's comings and goings.
    RunRecorder(history::StationFileAccess& file, RecorderSettings settings, Clock& clock,
                ProblemCallback onProblem);
    // A recorder of its own file at path (tests and measurements): folders made
    // only with Create.
    RunRecorder(const std::string& path, FolderCreation creation, Clock& clock, ProblemCallback onProblem,
                RecorderSettings settings = {});
    ~RunRecorder() override;

    std::unique_ptr<RunLog> runStarted(const RunStart& start) override;

    // Used by the runs' logs: each writes its row through here, one at a time.
    bool write(history::HistoryRecord& record, bool insert);
    Clock& clock() { return clock_; }

private:
    bool openLocked();
    void failLocked(const std::string& problem);

    std::unique_ptr<history::StationFileAccess> ownFile_;  // only for a recorder of its own file
    history::StationFileAccess& file_;
    RecorderSettings settings_;
    Clock& clock_;
    ProblemCallback onProblem_;
    std::mutex mutex_;
    std::shared_ptr<history::StationFile> opened_;
    bool givenUp_ = false;
    std::unique_ptr<history::LogCheckpointer> checkpointer_;  // made with the file
    std::unique_ptr<history::HistorySender> sender_;          // made with the file when a server is named
};

// "history <path>: <reason>; the run goes on without being recorded": the line
// both front ends show once.
std::string historyProblemLine(const std::string& path, const std::string& reason);

}  // namespace velmora
