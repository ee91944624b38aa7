#pragma once
// What the environment says when it cannot be built: the same words from the
// window and the command line.
#include <string>

namespace velmora::messages {

// A named configuration that cannot be used: "--config: cannot use 'PATH': REASON".
std::string unusableConfig(const std::string& path, const std::string& reason);
inline constexpr const char* kConfigWithoutHub = "it defines no supported hub (VID_nn, SSPID_nn, HSPID_nn)";

// "--simulate: unknown scenario 'NAME' (see --help)".
std::string unknownScenario(const std::string& scenario);

// --record and --replay as both front ends take them.
inline constexpr const char* kRealTimeWithoutReplay = "--replay-real-time goes with --replay FILE";
inline constexpr const char* kReplayAlone =
    "--replay serves the hubs itself: it takes no --simulate or --record";

// The line's server, which keeps the serial numbers, cannot be reached as a
// station starts: "history server URI cannot be reached (REASON); ...".
std::string serialServerAway(const std::string& server, const std::string& reason);
// The server answered and would not let the station in (a wrong password, an
// unknown role or database): not "cannot be reached".
std::string serialServerRefused(const std::string& server, const std::string& reason);

// A problem of the metrics' endpoint or file, under the option that asked for it.
inline std::string metricsOptionProblem(const std::string& option, const std::string& problem) {
    return option + ": " + problem;
}

// Bytes with no configuration block, refused unless named and confirmed as
// such (environment/WrittenBytes.h): the hub would come back in its ROM code.
inline constexpr const char* kBlocklessBytesFormat =
    "'%s' holds no configuration block: the hub would stay in its ROM code; to write it all the same, name "
    "it and add --blank";
inline constexpr const char* kBlocklessNoBackupFormat =
    "'%s' holds no configuration block and is no whole flash (%zu bytes, a backup holds %zu)";
inline constexpr const char* kBlankBytesFormat =
    "'%s' is a blank flash (every byte erased): the hub would stay in its ROM code; to write it all the "
    "same, name it and add --blank";

}  // namespace velmora::messages
