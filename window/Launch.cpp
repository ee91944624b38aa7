#include "window/Launch.h"

#include "window/AppDelegate.h"
#include "window/WindowEnvironment.h"
#include "window/WindowSession.h"

namespace velmora::window {

std::unique_ptr<AppDelegate> launchVelmora(WindowSession& session, WindowEnvironment& environment,
                                           std::string* error, const std::optional<StationRequest>& station) {
    // The core's launch steps first: the system version and the signature flag,
    // the console lines, the log line, the boot-args snapshot and config.ini.
    LaunchSettings settings;
    settings.shell = &environment.shell;
    settings.privateFolder = environment.privateFolder;
    settings.logPath = environment.logPath;
    settings.systemRoot = environment.systemRoot;
    std::string failure;
    if (!session.launch(settings, failure)) {
        if (error != nullptr) *error = failure;
        return nullptr;
    }

    auto window = std::make_unique<AppDelegate>(session, environment);
    window->needSignDriver = session.needSignDriver();
    window->MyLayoutUI();
    if (station) {
        // A station: no detection and no scalar run of the launch, which would
        // reach for the hubs its units update.
        const std::string refused = window->openStation(*station);
        if (refused.empty()) return window;
        if (error != nullptr) *error = refused;
        return nullptr;
    }
    window->RegisterNotifycation();
    window->startScalarRunAtLaunch();
    return window;
}

}  // namespace velmora::window
