#pragma once
// The launch sequence of the window, in one place.
#include <memory>
#include <optional>
#include <string>

#include "environment/StationSetup.h"

namespace velmora::window {

class AppDelegate;
class WindowSession;
struct WindowEnvironment;

// The launch steps, then the window: its layout, the USB notifications (detection
// twice) and the scalar run every launch starts in the background. Null, with
// error set when given, when the session cannot be set up (a named configuration
// that names no hub, an unknown simulation scenario). The window is not shown yet.
// With station, the window opens its station view instead (and is null, with
// error, when the station refuses the image or cannot start).
std::unique_ptr<AppDelegate> launchVelmora(WindowSession& session, WindowEnvironment& environment,
                                           std::string* error = nullptr,
                                           const std::optional<StationRequest>& station = std::nullopt);

}  // namespace velmora::window
