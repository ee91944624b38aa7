#pragma once
// The traceability history behind the RunObserver: every run becomes a row of the
// station's file, written when the run starts and completed when it ends, under
// the run's own name. The file is opened on the first run, through the access
// the process shares with its serial counter. A history that cannot be opened
// or written never stops a run: the run goes on, the row is kept in memory and
// written again at the next write of any run (a full disk may have room again),
// the problem is told again while it lasts (once per run at most) and once more
// when the file takes the rows again. With a line's server named, the rows the file will not
// take go to the server directly meanwhile, so every unit is recorded somewhere.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device/Clock.h"
#include "history/DirectSender.h"
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

// How many runs' rows the recorder keeps in memory while the file will not take
// them; the oldest is given up when another comes.
inline constexpr std::size_t kRowsKeptForTheFile = 1024;

class RunRecorder final : public RunObserver {
public:
    // Told, from the thread of the run that met it, why a run's row is not in
    // the file (once per run at most: runs side by side leave it to one of
    // them), that the file takes rows again, and at the end how many rows
    // never reached it (nor the server).
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

    // One run's row between its writes, shared by its run's log and, while the
    // file lacks its newest write, the recorder's rows kept for the file.
    struct Row {
        history::HistoryRecord latest;  // id: its row in the file, 0 while it has none
        std::int64_t writes = 0;        // the run's writes so far: the revision sent directly
        bool direct = false;            // a write failed with a server named: each goes there too
        bool told = false;              // the file's problem was told for this run
        bool teller = false;            // this run told it (the others beside it did not)
        bool onServer = false;          // the server took its newest write directly
    };
    // Used by the runs' logs: each writes its row's newest content through
    // here, one at a time. Whether the file took it.
    bool write(const std::shared_ptr<Row>& row, const history::HistoryRecord& latest);
    // Its run's log is done with the row.
    void runEnded(const Row& row);
    // The rows the line's server refused in this process (0 without a server).
    std::size_t refusedRows();
    Clock& clock() { return clock_; }

private:
    bool openLocked(std::string& error);
    bool writeLocked(Row& row, std::string& error);
    void writeKeptLocked(const Row* own);
    void keepLocked(const std::shared_ptr<Row>& row, const std::string& problem);
    void takenByServer(const std::vector<history::HistoryRecord>& rows);

    std::unique_ptr<history::StationFileAccess> ownFile_;  // only for a recorder of its own file
    history::StationFileAccess& file_;
    RecorderSettings settings_;
    Clock& clock_;
    ProblemCallback onProblem_;
    std::mutex mutex_;
    std::shared_ptr<history::StationFile> opened_;
    std::deque<std::shared_ptr<Row>> kept_;  // rows whose newest write the file lacks, oldest first
    std::size_t givenUp_ = 0;                // rows dropped from kept_ that no server has either
    std::size_t writtenLate_ = 0;            // kept rows written since the file last failed
    bool failing_ = false;                   // the file's last write failed
    std::size_t tellingRuns_ = 0;            // runs going on that told the file's problem themselves
    std::unique_ptr<history::LogCheckpointer> checkpointer_;  // made with the file
    std::unique_ptr<history::HistorySender> sender_;          // made with the file when a server is named
    std::unique_ptr<history::DirectSender> direct_;  // made at the first failed write when a server is named
};

// "history <path>: <reason>; ...": the line both front ends show when the file
// will not take a run's row, saying where the row goes meanwhile (serverName:
// the line's server taking it directly; empty: none, it waits in memory).
std::string historyProblemLine(const std::string& path, const std::string& reason,
                               const std::string& serverName = {});

}  // namespace velmora
