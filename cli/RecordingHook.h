#pragma once
// --record FILE and --replay FILE: the one place where the command line meets the
// recordings (device/recording). With --record the session's platform is wrapped
// in one that writes every exchange to FILE; with --replay the hub is served from
// FILE by a platform of the hook's own, in virtual time, and no bus is touched.
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/SupportedDeviceTable.h"
#include "cli/CliOptions.h"
#include "device/Clock.h"
#include "device/UsbPlatform.h"

namespace velmora::recording {
class RecordingWriter;
class RecordingPlatform;
class ReplayPlatform;
}  // namespace velmora::recording

namespace velmora::cli {

class RecordingHook {
public:
    // Null when the options ask for neither; null with error when the file cannot
    // be written (--record) or read as a recording (--replay: a newer format, a
    // damaged file).
    static std::unique_ptr<RecordingHook> create(const CliOptions& options, const SupportedDeviceTable& table,
                                                 std::string& error);
    ~RecordingHook();

    // A replay records nowhere: the front end keeps no history and no backup of it.
    bool replays() const { return replay_ != nullptr; }
    // The replay's clock, handed over once (replays() only).
    std::unique_ptr<Clock> takeReplayClock() { return std::move(replayClock_); }
    // The platform the session must use: the replay's, or the recorder over inner.
    UsbPlatform& platformOver(UsbPlatform* inner, Clock& clock);
    // The one line that ends a replay that went elsewhere than the recording, or a
    // recording that could not be written whole; empty when all went well.
    std::optional<std::string> endingLine() const;

private:
    RecordingHook() = default;

    std::unique_ptr<recording::RecordingWriter> writer_;
    std::unique_ptr<recording::RecordingPlatform> recorder_;
    std::unique_ptr<Clock> replayClock_;
    std::unique_ptr<recording::ReplayPlatform> replay_;
};

}  // namespace velmora::cli
