#include "environment/RecordingHook.h"

#include <sys/stat.h>

#include "app/SafeFile.h"
#include "app/Sha256.h"
#include "device/recording/RecordingPlatform.h"
#include "device/recording/ReplayPlatform.h"

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
            {word, sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size())});
    }
    return images;
}

recording::RecordingHeader headerFor(const RecordingOptions& options, const SupportedDeviceTable& table,
                                     const RunId& firstRun) {
    recording::RecordingHeader header;
    header.program = programText(options);
    header.run = firstRun.text();
    header.command = options.commandLine;
    for (const SupportedDevice& entry : table.entries())
        if (entry.valid != 0) header.table.push_back({entry.vid, entry.sspid, entry.hspid});
    header.images = namedImages(options);
    return header;
}

}  // namespace

std::optional<KeptBackup> RecordingHook::DiscardingBackups::keep(const std::vector<std::uint8_t>& contents,
                                                                 const FlashBackupInfo& info, std::string&) {
    // Named as a kept backup would be; nothing is written.
    return KeptBackup{info.run, sha256Hex(contents.data(), contents.size())};
}

bool RecordingHook::DiscardingBackups::finish(const RunId&, bool, std::string&) {
    return true;
}

bool ReplaySerials::beginStation(const std::string&, std::string&) {
    return true;
}

std::optional<SerialBlock> ReplaySerials::reserveBlock(const std::string&, const std::string& prefix,
                                                       std::uint64_t start, std::uint64_t last,
                                                       std::uint64_t count, std::string&) {
    std::lock_guard lock(mutex_);
    const auto known = next_.find(prefix);
    SerialBlock block{known == next_.end() ? start : std::max(start, known->second), 0};
    if (block.first <= last) block.count = std::min(count, last - block.first + 1);
    next_[prefix] = block.first + block.count;
    return block;
}

bool ReplaySerials::markNumber(const std::string&, std::uint64_t, SerialState, const RunId&, std::string&) {
    return true;
}

bool ReplaySerials::endStation(const std::string&, std::string&) {
    return true;
}

FlashBackups& RecordingHook::discardingBackups(std::string place) {
    discardingBackups_.place_ = std::move(place);
    return discardingBackups_;
}

std::unique_ptr<RecordingHook> RecordingHook::create(const RecordingOptions& options,
                                                     const SupportedDeviceTable& table, Clock& clock,
                                                     const RunId& firstRun, std::string& error) {
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
    hook->writer_ =
        recording::RecordingWriter::create(*options.recordPath, headerFor(options, table, firstRun), why);
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
