#pragma once
// Hub detection: whether a supported hub is attached and which firmware it runs,
// worded for the hub info field. It runs at launch and on every USB arrival or
// removal, and must never take the device connection away from a running workflow.
#include <string>
#include <string_view>

namespace velmora {

class HubConnection;

enum class TextColour { Blue, Red };

struct HubInfo {
    std::string text;
    TextColour colour = TextColour::Red;
};

inline constexpr const char* kHubNotFoundText = "Detect Zelo Hub: Fail\nPlease Insert Zelo Hub Device";
// Its second line alone: what a run over every attached hub says when there is none.
inline constexpr std::string_view kInsertHubText =
    std::string_view(kHubNotFoundText).substr(std::string_view(kHubNotFoundText).find('\n') + 1);
inline constexpr const char* kHubVersionFormat = "Detect Zelo Hub : Success\nfwVer:%04x";
// With more than one supported hub attached, the field's first line; a row per hub follows.
inline constexpr const char* kSeveralHubsFormat = "Detect Zelo Hub : %zu hubs attached";
// A hub another run of this program is updating: it is there, but no version is
// read from it until that run lets go (the field must not say fwVer:ffff, which
// is a hub that will not open at all).
inline constexpr const char* kHubBusyFirstLine = "Detect Zelo Hub : Success\n";
inline constexpr const char* kHubNeedsDriverText = "Detect Zelo Hub : Success\n-need load driver";

// The detection steps: presence, open, version read, close. Begins and ends with
// nothing open on the connection.
HubInfo DetectHub(HubConnection& connection);

}  // namespace velmora
