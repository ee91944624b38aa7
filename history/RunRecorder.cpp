#include "history/RunRecorder.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/Hex.h"
#include "app/TextAppend.h"
#include "history/HistoryFile.h"
#include "history/ImageDigest.h"
#include "history/IsoTime.h"
#include "history/RunUuid.h"

namespace velmora {
namespace {

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string now() {
    return history::isoUtc(history::wallNow());
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
        phases_.push_back({runPhaseName(phase), recorder_.clock().now(), std::nullopt});
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

    void ended(const RunEnd& end) override {
        closePhase();
        record_.ended = now();
        record_.result = end.succeeded ? history::kResultSuccess : history::kResultFailure;
        record_.failure = end.failure;
        // The version after counts only when read after the last reset: before it,
        // the hub still ran the code it was reset from.
        const bool reset =
            !phases_.empty() && std::string(phases_.back().name) == runPhaseName(RunPhase::Reset);
        if (end.succeeded && reset) record_.versionAfter = afterReset_;
        save();
    }

private:
    struct Phase {
        const char* name;
        Milliseconds started;
        std::optional<Milliseconds> took;
    };

    void closePhase() {
        if (!phases_.empty() && !phases_.back().took) {
            phases_.back().took = recorder_.clock().now() - phases_.back().started;
        }
    }

    void save() {
        std::string text;
        for (const Phase& phase : phases_) {
            appendText(text, {text.empty() ? "" : ";", phase.name});
            if (phase.took) appendText(text, {"=", std::to_string(phase.took->count())});
        }
        record_.phases = text;
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

RunRecorder::RunRecorder(std::string path, bool createFolders, Clock& clock, ProblemCallback onProblem)
    : RunRecorder(RecorderSettings{std::move(path), createFolders, {}, {}, {}, {}}, clock,
                  std::move(onProblem)) {}

RunRecorder::RunRecorder(RecorderSettings settings, Clock& clock, ProblemCallback onProblem)
    : settings_(std::move(settings)), clock_(clock), onProblem_(std::move(onProblem)) {
    if (settings_.station.empty()) settings_.station = hostName();
}

RunRecorder::~RunRecorder() {
    // The sender's last try goes before the database it reads closes.
    sender_.reset();
    checkpointer_.reset();
}

std::unique_ptr<RunLog> RunRecorder::runStarted(const RunStart& start) {
    history::HistoryRecord record;
    record.operation = start.operation;
    const history::WallTime started = history::wallNow();
    record.started = history::isoUtc(started);
    record.runUuid = history::newRunUuid(started);
    record.host = hostName();
    record.station = settings_.station;
    record.origin = settings_.origin;
    record.imagePath = absolutePath(start.imagePath);
    record.recoveredRun = start.recoveredRun;
    if (start.imageBytes != nullptr) {
        record.imageSha256 = history::sha256Hex(start.imageBytes->data(), start.imageBytes->size());
        record.imageSerial = start.imageSerial;
    }
    return std::make_unique<RecordedRun>(*this, std::move(record));
}

bool RunRecorder::write(history::HistoryRecord& record, bool insert) {
    std::lock_guard lock(mutex_);
    if (!openLocked()) return false;
    std::string error;
    if (insert) record.id = 0;
    if (database_->record(record, error)) {
        if (checkpointer_) checkpointer_->written();
        if (sender_) sender_->wake();
        return true;
    }
    failLocked(error);
    return false;
}

bool RunRecorder::openLocked() {
    if (givenUp_) return false;
    if (database_) return true;
    std::string error;
    if (settings_.path.empty()) {
        failLocked("no home folder to keep it in");
        return false;
    }
    const auto folders =
        settings_.createFolders ? history::FolderCreation::Create : history::FolderCreation::MustExist;
    if (history::prepareHistoryFile(settings_.path, folders, error))
        database_ = history::HistoryDatabase::open(settings_.path, error);
    if (database_ && !checkpointer_ && database_->deferCheckpoints(error))
        checkpointer_ = std::make_unique<history::LogCheckpointer>(settings_.path);
    if (!database_) failLocked(error);
    if (database_ && !settings_.serverUri.empty() && !sender_) {
        // A bench's simulated runs go to the server its command named; a real
        // station's sender leaves any bench rows in the file alone.
        sender_ = std::make_unique<history::HistorySender>(
            settings_.path, settings_.serverUri, !settings_.origin.empty(), settings_.retry, onProblem_);
    }
    return database_ != nullptr;
}

void RunRecorder::failLocked(const std::string& problem) {
    if (givenUp_) return;
    givenUp_ = true;
    database_.reset();
    if (onProblem_) onProblem_(historyProblemLine(settings_.path, problem));
}

}  // namespace velmora
