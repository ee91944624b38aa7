#include "window/Launch.h"

#include "launch/LaunchSequence.h"
#include "window/AppDelegate.h"
#include "window/WindowEnvironment.h"
#include "window/WindowSession.h"

namespace velmora::window {

std::unique_ptr<AppDelegate> launchVelmora(WindowSession& session, WindowEnvironment& environment) {
    // The core's launch steps first: the system version and the signature flag, the
    // console lines, the log line, the boot-args snapshot and config.ini.
    LaunchInputs inputs(session.console(), environment.shell, session.paths().configPath);
    inputs.resourcePath = session.paths().resourcePath;
    inputs.privateFolder = environment.privateFolder;
    inputs.logPath = environment.logPath;
    inputs.systemRoot = environment.systemRoot;
    const LaunchResult launched = runLaunchSequence(inputs);
    if (!session.useConfig(launched.config)) return nullptr;

    auto window = std::make_unique<AppDelegate>(session, environment);
    window->needSignDriver = launched.needSignDriver;
    window->MyLayoutUI();
    window->RegisterNotifycation();
    window->startScalarRunAtLaunch();
    return window;
}

}  // namespace velmora::window
