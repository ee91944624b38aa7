#pragma once
// --record FILE and --replay FILE for both front ends: the one place where the
// composition root meets the recordings (device/recording). With --record the
// platform the environment built is wrapped in one that writes every exchange to
// FILE; with --replay the hubs are served from FILE instead, and no bus is touched.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/SupportedDeviceTable.h"
#include "device/Clock.h"
#include "device/UsbPlatform.h"
#include "environment/EnvironmentOptions.h"
#include "workflows/FlashBackups.h"
#include "workflows/SerialNumberSource.h"

namespace velmora::recording {
class RecordingWriter;
class RecordingPlatform;
class ReplayPlatform;
}  // namespace velmora::recording

namespace velmora {

// Where a replayed station takes its serial numbers: each prefix counts from
// where the station asks and every number is forgotten at the end, so a replay
// of a station whose counter was new takes the numbers it took, and no real or
// bench counter gives or voids one.
class ReplaySerials final : public SerialNumberSource {
public:
    bool beginStation(const std::string& station, std::string& error) override;
    std::optional<SerialBlock> reserveBlock(const std::string& station, const std::string& prefix,
                                            std::uint64_t start, std::uint64_t last, std::uint64_t count,
                                            std::string& error) override;
    bool markNumber(const std::string& prefix, std::uint64_t number, SerialState state, const RunId& run,
                    std::string& error) override;
    bool endStation(const std::string& station, std::string& error) override;

private:
    std::mutex mutex_;
    std::map<std::string, std::uint64_t> next_;  // per prefix
};

class RecordingHook {
public:
    // Null when the options ask for neither; null with error when the file cannot
    // be written (--record) or read as a recording (--replay: a newer format, a
    // damaged file). The recording's path has passed the outputs' rule
    // (HubEnvironment::attachRecording). A replay's times pass on clock. A recording's header names
    // firstRun, the name the command's first run takes.
    static std::unique_ptr<RecordingHook> create(const RecordingOptions& options,
                                                 const SupportedDeviceTable& table, Clock& clock,
                                                 const RunId& firstRun, std::string& error);
    ~RecordingHook();

    bool replays() const { return replay_ != nullptr; }
    // Where a replay's runs keep the flash before an erase: the run reads it twice
    // as the recorded run did (the recording holds those reads), and the flash is
    // then dropped, for nothing real was erased. place names the folder the
    // recorded run would have used, so the run's messages read the same.
    FlashBackups& discardingBackups(std::string place);
    // The platform the environment must use: the replay's, or a recorder over inner
    // (whose times are taken on clock).
    UsbPlatform& platformOver(UsbPlatform* inner, Clock& clock);
    // "Replay diverged at exchange N: recorded ..., sent ...", once a request
    // differed from the recording.
    std::optional<std::string> divergence() const;
    // Why the recording could not be written whole, once it could not.
    std::optional<std::string> recordingProblem() const;

private:
    class DiscardingBackups final : public FlashBackups {
    public:
        std::optional<KeptBackup> keep(const std::vector<std::uint8_t>& contents, const FlashBackupInfo& info,
                                       std::string& problem) override;
        bool finish(const RunId& run, bool succeeded, std::string& problem) override;
        std::string place() const override { return place_; }

        std::string place_;
    };

    RecordingHook() = default;

    DiscardingBackups discardingBackups_;
    std::unique_ptr<recording::RecordingWriter> writer_;
    std::unique_ptr<recording::RecordingPlatform> recorder_;
    std::unique_ptr<recording::ReplayPlatform> replay_;
};

}  // namespace velmora
