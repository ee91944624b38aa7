#pragma once
// The window program's command line: a few options, no commands. Parsed before
// any display is opened, so --help and --version work on a bare terminal.
#include <optional>
#include <string>
#include <vector>

#include "environment/StationSetup.h"

namespace velmora::window {

inline constexpr const char* kProgramName = "velmora";
// Exit status for wrong words, an unusable configuration file or no display.
inline constexpr int kBadUsageExit = 2;
// Exit status when a replay (--replay) went elsewhere than its recording.
inline constexpr int kReplayDivergedExit = 1;

struct WindowOptions {
    std::optional<std::string> configPath;
    std::optional<std::string> historyPath;  // the history file or server URI; none: the user's default
    std::string stationName;                 // the name runs are recorded under; empty: the host name
    bool simulate = false;
    std::string scenario;                        // empty: the simulated bus's default set-up
    std::optional<std::string> recordPath;       // --record: every exchange with the hubs goes there
    std::optional<std::string> replayPath;       // --replay: the hubs are served from that recording
    std::vector<std::string> commandLine;        // for a recording's first line: as given, less URI passwords
    bool requireSigned = false;                  // --require-signed: an image without a signature is refused
    std::vector<std::string> trustedKeyFolders;  // --trusted-keys DIR: a bench's keys, for this window
    // --station IMAGE and the station's options: the window opens its station view.
    std::optional<StationRequest> station;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

struct ParsedWindowOptions {
    WindowOptions options;
    std::string error;  // empty when the words made sense
};

// arguments excludes the program name.
ParsedWindowOptions parseWindowOptions(const std::vector<std::string>& arguments);

std::string usageText();
std::string versionText();
// What the program says when there is no display to open its window on.
std::string noDisplayText();

// True when a display is named in the environment (X11 or Wayland), or Qt was told
// to use a platform that needs none (offscreen, for tests and screenshots).
bool displayAvailable();

}  // namespace velmora::window
