#include "environment/RecordingHook.h"

#include <sys/stat.h>

#include "app/SafeFile.h"
#include "device/recording/RecordingPlatform.h"
#include "device/recording/ReplayPlatform.h"
#include "history/ImageDigest.h"

namespace velmora {
namespace {

// Image files are tens of KiB; a larger file named on the command line is no image.
constexpr off_t kLargestHashedFile = 16 * 1024 * 1024;

std::string programText(const RecordingOptions& options) {
    std::string text = options.programName;
    text += ' ';
    text += VELMORA_PROGRAM_VERSION;
    return text;
}

// The SHA-256 of every regular file the command names: the images it writes.
std::vector<recording::RecordedImage> namedImages(const RecordingOptions& options) {
    std::vector<recording::RecordedImage> images;
    for (const std::string& word : options.namedFiles) {
        struct stat status {};
        if (::stat(word.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_size > kLargestHashedFile)
            continue;
        std::string error;
        const std::optional<std::string> bytes = readRegularFile(word, error);
        if (!bytes) continue;
        images.push_back(
            {word, history::sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size())});
    }
    return images;
}

recording::RecordingHeader headerFor(const RecordingOptions& options, const SupportedDeviceTable& table) {
    recording::RecordingHeader header;
    header.program = programText(options);
    header.command = options.commandLine;
    for (const SupportedDevice& entry : table.entries())
        if (entry.valid != 0) header.table.push_back({entry.vid, entry.sspid, entry.hspid});
    header.images = namedImages(options);
    return header;
}

class DiscardedLog final : public RunLog {
public:
    void phaseStarted(RunPhase) override {}
    void hubSeen(const HubConnection::HubSighting&) override {}
    void ended(const RunEnd&) override {}
};

}  // namespace

std::unique_ptr<RunLog> RecordingHook::DiscardingObserver::runStarted(const RunStart&) {
    return std::make_unique<DiscardedLog>();
}

std::optional<KeptBackup> RecordingHook::DiscardingBackups::keep(const std::vector<std::uint8_t>& contents,
                                                                 const FlashBackupInfo&, std::string&) {
    // The digest is what the run tells its (discarding) observer; the run id names
    // no index entry, as none is written.
    return KeptBackup{"replay", history::sha256Hex(contents.data(), contents.size())};
}

bool RecordingHook::DiscardingBackups::finish(const std::string&, bool, std::string&) {
    return true;
}

FlashBackups& RecordingHook::discardingBackups(std::string place) {
    discardingBackups_.place_ = std::move(place);
    return discardingBackups_;
}

std::unique_ptr<RecordingHook> RecordingHook::create(const RecordingOptions& options,
                                                     const SupportedDeviceTable& table, Clock& clock,
                                                     const std::vector<std::string>& filesInUse,
                                                     std::string& error) {
    if (!options.recordPath && !options.replayPath) return nullptr;
    std::unique_ptr<RecordingHook> hook(new RecordingHook());
    std::string why;
    if (options.replayPath) {
        recording::Recording recording;
        if (!recording::readRecording(*options.replayPath, recording, why)) {
            error = "--replay: " + *options.replayPath + ": " + why;
            return nullptr;
        }
        hook->replay_ = std::make_unique<recording::ReplayPlatform>(std::move(recording), clock);
        return hook;
    }
    // The recording would be written over an image the run is about to read, its
    // configuration or its history, or a file the run writes over the recording.
    std::vector<std::string> used = options.namedFiles;
    used.insert(used.end(), filesInUse.begin(), filesInUse.end());
    for (const std::string& file : used) {
        if (sameFile(file, *options.recordPath)) {
            error = "--record: " + *options.recordPath +
                    " is a file this run reads or writes; record into a file of its own";
            return nullptr;
        }
    }
    hook->writer_ = recording::RecordingWriter::create(*options.recordPath, headerFor(options, table), why);
    if (!hook->writer_) {
        error = "--record: " + *options.recordPath + ": " + why;
        return nullptr;
    }
    return hook;
}

RecordingHook::~RecordingHook() = default;

UsbPlatform& RecordingHook::platformOver(UsbPlatform* inner, Clock& clock) {
    if (replay_) return *replay_;
    recorder_ = std::make_unique<recording::RecordingPlatform>(*inner, clock, *writer_);
    return *recorder_;
}

std::optional<std::string> RecordingHook::divergence() const {
    if (!replay_) return std::nullopt;
    return replay_->divergence();
}

std::optional<std::string> RecordingHook::recordingProblem() const {
    if (!writer_) return std::nullopt;
    const std::string problem = writer_->problem();
    if (problem.empty()) return std::nullopt;
    return "--record: the recording is incomplete: " + problem;
}

}  // namespace velmora
