#include "history/RunRecorder.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/Hex.h"
#include "app/IsoTime.h"
#include "app/Sha256.h"
#include "app/TextAppend.h"
#include "history/PhaseLog.h"

namespace velmora {
namespace {

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string now() {
    return isoUtc(wallNow());
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code failure;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
    return failure ? path : absolute.lexically_normal().string();
}

// One run's row, kept up to date as the run goes.
class RecordedRun final : public RunLog {
public:
    RecordedRun(RunRecorder& recorder, history::HistoryRecord record)
        : recorder_(recorder), record_(std::move(record)) {
        recorder_.write(row_, record_);
    }
    ~RecordedRun() override { recorder_.runEnded(*row_); }

    void phaseStarted(RunPhase phase) override {
        closePhase();
        phases_.push_back({phase, recorder_.clock().now(), std::nullopt});
        if (phase == RunPhase::Reset) afterReset_.clear();
        save();
    }

    void hubSeen(const HubConnection::HubSighting& sighting) override {
        // The port is written as soon as it is known: a run cut off in its first
        // phase still names the unit it was on.
        const bool firstSighting = record_.port.empty();
        if (firstSighting) record_.port = sighting.device.portPath;
        const std::string ids = hexIds(sighting.device.vendorId, sighting.device.productId);
        if (record_.hubIds.find(ids) == std::string::npos) {
            appendText(record_.hubIds, {record_.hubIds.empty() ? "" : " ", ids});
        }
        if (sighting.status) {
            if (record_.versionBefore.empty()) record_.versionBefore = runningVersionText(sighting.status);
            afterReset_ = runningVersionText(sighting.status);
        }
        if (firstSighting) save();
    }

    void backedUp(const std::string& sha256) override {
        record_.backupSha256 = sha256;
        save();
    }

    void serialRead(const std::string& serial) override {
        record_.hubSerial = serial;
        save();
    }

    void unitIdentified(const std::string& unitId) override {
        record_.unitId = unitId;
        save();
    }

    void ended(const RunEnd& end) override {
        closePhase();
        record_.ended = now();
        record_.result = end.succeeded ? history::kResultSuccess : history::kResultFailure;
        record_.failure = end.failure;
        // The version after counts only when read after the last reset: before it,
        // the hub still ran the code it was reset from.
        const bool reset = !phases_.empty() && phases_.back().phase == RunPhase::Reset;
        if (end.succeeded && reset) record_.versionAfter = afterReset_;
        save();
    }

private:
    struct Phase {
        RunPhase phase;
        Milliseconds started;
        std::optional<Milliseconds> took;
    };

    void closePhase() {
        if (!phases_.empty() && !phases_.back().took) {
            phases_.back().took = recorder_.clock().now() - phases_.back().started;
        }
    }

    void save() {
        std::vector<history::PhaseEntry> entries;
        for (const Phase& phase : phases_) {
            std::optional<std::int64_t> took;
            if (phase.took) took = phase.took->count();
            entries.push_back({phase.phase, took});
        }
        record_.phases = history::PhaseLog(std::move(entries)).text();
        recorder_.write(row_, record_);
    }

    RunRecorder& recorder_;
    history::HistoryRecord record_;
    std::vector<Phase> phases_;
    std::string afterReset_;
    std::shared_ptr<RunRecorder::Row> row_ = std::make_shared<RunRecorder::Row>();
};

}  // namespace

std::string historyProblemLine(const std::string& path, const std::string& reason,
                               const std::string& serverName) {
    return "history " + path + ": " + reason +
           (serverName.empty()
                ? "; the run goes on, its record kept in memory until the file can be written"
                : "; the run goes on, its record sent to the history server " + serverName + " only");
}

namespace {

std::string writtenAgainLine(const std::string& path, std::size_t rows) {
    return "history " + path + " can be written again" +
           (rows == 0 ? std::string{} : "; " + std::to_string(rows) + " run records kept meanwhile written");
}

std::string neverWrittenLine(const std::string& path, std::size_t rows) {
    return "history " + path + ": " + std::to_string(rows) +
           " run records could never be written, nor sent to a history server";
}

}  // namespace

RunRecorder::RunRecorder(history::StationFileAccess& file, RecorderSettings settings, Clock& clock,
                         ProblemCallback onProblem)
    : file_(file), settings_(std::move(settings)), clock_(clock), onProblem_(std::move(onProblem)) {
    if (settings_.station.empty()) settings_.station = hostName();
}

RunRecorder::RunRecorder(const std::string& path, FolderCreation creation, Clock& clock,
                         ProblemCallback onProblem, RecorderSettings settings)
    : ownFile_(std::make_unique<history::StationFileAccess>(path, creation)),
      file_(*ownFile_),
      settings_(std::move(settings)),
      clock_(clock),
      onProblem_(std::move(onProblem)) {
    if (settings_.station.empty()) settings_.station = hostName();
}

RunRecorder::~RunRecorder() {
    // The rows kept for the file get one last try, the server's direct ones
    // theirs; then the sender's last try, before the file it reads closes.
    {
        std::lock_guard lock(mutex_);
        std::string error;
        if (!kept_.empty() && openLocked(error)) writeKeptLocked(nullptr);
    }
    direct_.reset();
    sender_.reset();
    checkpointer_.reset();
    const std::size_t lost =
        givenUp_ + std::count_if(kept_.begin(), kept_.end(), [](const auto& row) { return !row->onServer; });
    if (lost > 0 && onProblem_) onProblem_(neverWrittenLine(file_.path(), lost));
}

std::unique_ptr<RunLog> RunRecorder::runStarted(const RunStart& start) {
    history::HistoryRecord record;
    record.operation = runOperationName(start.operation);
    record.started = isoUtc(wallNow());
    // The run's own name; a run started by no workflow (a test's) gets one here.
    record.runUuid = start.run.empty() ? RunId::make().text() : start.run.text();
    record.host = hostName();
    record.station = settings_.station;
    record.origin = storedOrigin(settings_.origin);
    record.imagePath = absolutePath(start.imagePath);
    record.recoveredRun = start.recoveredRun.text();
    record.unitId = start.unitId;
    // Written for this server alone: another command's server never takes it.
    if (settings_.server != nullptr) record.lineServer = settings_.server->identity();
    if (start.imageBytes != nullptr) {
        record.imageSha256 = sha256Hex(start.imageBytes->data(), start.imageBytes->size());
        record.imageSerial = start.imageSerial;
    }
    if (const ImageSignature* signature = start.imageSignature) {
        record.signature = signature->state;
        record.signatureKey = signature->keyId;
        record.signatureComment = signature->trustedComment;
        if (signature->judgedSha256 != record.imageSha256) record.signedSha256 = signature->judgedSha256;
    }
    return std::make_unique<RecordedRun>(*this, std::move(record));
}

bool RunRecorder::write(const std::shared_ptr<Row>& row, const history::HistoryRecord& latest) {
    std::lock_guard lock(mutex_);
    const std::int64_t id = row->latest.id;
    row->latest = latest;
    row->latest.id = id;
    row->latest.revision = ++row->writes;
    row->onServer = false;
    std::string error;
    const bool opened = openLocked(error);
    // The rows kept since the file last failed go first: the file may have room again.
    if (opened && !kept_.empty()) writeKeptLocked(row.get());
    const bool written = opened && writeLocked(*row, error);
    if (!written) keepLocked(row, error);
    if (failing_ && kept_.empty()) {
        failing_ = false;
        if (onProblem_) onProblem_(writtenAgainLine(file_.path(), writtenLate_));
    }
    // A row that went to the server once goes there with each write: the
    // server keeps the highest revision, and the file's may lag behind it.
    if (row->direct && direct_) direct_->send(row->latest);
    return written;
}

bool RunRecorder::writeLocked(Row& row, std::string& error) {
    history::HistoryRecord written = row.latest;
    if (!opened_->database().record(written, error)) return false;
    row.latest.id = written.id;
    if (checkpointer_) checkpointer_->written();
    if (sender_) sender_->wake();
    return true;
}

void RunRecorder::writeKeptLocked(const Row* own) {
    // Oldest first; the first that fails again ends the try (the file most
    // likely fails them all) and goes last, so that no one row holds the others.
    while (!kept_.empty()) {
        const std::shared_ptr<Row> next = kept_.front();
        kept_.pop_front();
        if (next.get() == own) continue;  // written next, as the run's own write
        std::string error;
        if (!writeLocked(*next, error)) {
            kept_.push_back(next);
            return;
        }
        ++writtenLate_;
    }
}

void RunRecorder::keepLocked(const std::shared_ptr<Row>& row, const std::string& problem) {
    if (!failing_) writtenLate_ = 0;
    failing_ = true;
    if (std::find(kept_.begin(), kept_.end(), row) == kept_.end()) {
        kept_.push_back(row);
        if (kept_.size() > kRowsKeptForTheFile) {
            // The oldest is given up; a row the server takes directly is not lost.
            if (!kept_.front()->direct) ++givenUp_;
            kept_.pop_front();
        }
    }
    history::LineServer* server = settings_.server;
    if (server != nullptr && !direct_) {
        direct_ = std::make_unique<history::DirectSender>(
            *server, settings_.retry,
            [this](const std::vector<history::HistoryRecord>& rows) { takenByServer(rows); }, onProblem_);
    }
    row->direct = server != nullptr;
    // Runs side by side meet the same problem: one of them tells it while it runs.
    // A run that meets it while another's telling goes on counts as told.
    if (row->told) return;
    row->told = true;
    if (tellingRuns_ > 0) return;
    row->teller = true;
    ++tellingRuns_;
    if (onProblem_)
        onProblem_(
            historyProblemLine(file_.path(), problem, server != nullptr ? server->name() : std::string{}));
}

void RunRecorder::runEnded(const Row& row) {
    std::lock_guard lock(mutex_);
    if (row.teller) --tellingRuns_;
}

void RunRecorder::takenByServer(const std::vector<history::HistoryRecord>& rows) {
    // Still kept for the file, whose copy would otherwise stay as it was when
    // the file failed; but no longer lost should the file never come back.
    std::lock_guard lock(mutex_);
    for (const history::HistoryRecord& taken : rows) {
        for (const std::shared_ptr<Row>& row : kept_)
            if (row->latest.runUuid == taken.runUuid && row->writes == taken.revision) row->onServer = true;
    }
}

std::size_t RunRecorder::refusedRows() {
    std::lock_guard lock(mutex_);
    return sender_ ? sender_->refused() : 0;
}

bool RunRecorder::openLocked(std::string& error) {
    if (opened_) return true;
    opened_ = file_.open(error);
    if (!opened_) return false;
    if (opened_->database().deferCheckpoints(error))
        checkpointer_ = std::make_unique<history::LogCheckpointer>(opened_);
    if (settings_.server != nullptr) {
        // Each row goes to the server it was written for; a bench's rows, written
        // only for a server its own command named, never reach the station's.
        sender_ = std::make_unique<history::HistorySender>(
            opened_, *settings_.server, settings_.stationsOwnServer, settings_.retry, onProblem_);
    }
    return true;
}

}  // namespace velmora
