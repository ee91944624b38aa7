#include "history/RunRecorder.h"

#include <unistd.h>

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
        recorded_ = recorder_.write(record_, true);
    }

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
        if (recorded_) recorded_ = recorder_.write(record_, false);
    }

    RunRecorder& recorder_;
    history::HistoryRecord record_;
    std::vector<Phase> phases_;
    std::string afterReset_;
    bool recorded_ = false;
};

}  // namespace

std::string historyProblemLine(const std::string& path, const std::string& reason) {
    return "history " + path + ": " + reason + "; the run goes on without being recorded";
}

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
    // The sender's last try goes before the file it reads closes.
    sender_.reset();
    checkpointer_.reset();
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

bool RunRecorder::write(history::HistoryRecord& record, bool insert) {
    std::lock_guard lock(mutex_);
    if (!openLocked()) return false;
    std::string error;
    if (insert) record.id = 0;
    if (opened_->database().record(record, error)) {
        if (checkpointer_) checkpointer_->written();
        if (sender_) sender_->wake();
        return true;
    }
    failLocked(error);
    return false;
}

std::size_t RunRecorder::refusedRows() {
    std::lock_guard lock(mutex_);
    return sender_ ? sender_->refused() : 0;
}

bool RunRecorder::openLocked() {
    if (givenUp_) return false;
    if (opened_) return true;
    std::string error;
    opened_ = file_.open(error);
    if (!opened_) {
        failLocked(error);
        return false;
    }
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

void RunRecorder::failLocked(const std::string& problem) {
    if (givenUp_) return;
    givenUp_ = true;
    sender_.reset();
    checkpointer_.reset();
    opened_.reset();
    if (onProblem_) onProblem_(historyProblemLine(file_.path(), problem));
}

}  // namespace velmora
