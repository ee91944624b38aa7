#include "window/Launch.h"

#include "app/AppPaths.h"
#include "app/Console.h"
#include "app/GeneralFunction.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/SignatureEnforcement.h"
#include "window/AppDelegate.h"
#include "window/WindowEnvironment.h"
#include "window/WindowSession.h"

namespace velmora::window {
namespace {

struct LaunchFacts {
    bool configRead = false;
    bool needSignDriver = false;
};

// The steps before the window: the system version and the signature flag, the
// console lines, the log line, the boot-args snapshot and the configuration.
LaunchFacts runLaunchSteps(WindowSession& session, WindowEnvironment& environment) {
    Console& console = session.console();
    LaunchFacts facts;
    const std::string version = GeneralFunction::GetCurrentSystemVersion(console);
    // On Linux a restart is needed only where the kernel insists on signed modules.
    facts.needSignDriver = driver::moduleSignaturesEnforced(environment.systemRoot);
    console.line("Current System Version: " + version);
    console.line("AP Path :" + programFolder() + " ");
    console.line("Resource Path :" + session.paths().resourcePath + " ");
    GeneralFunction::PrintNormalLog(version, environment.logPath);
    if (environment.privateFolder) {
        driver::takeBootArgsSnapshot(*environment.privateFolder / driver::kSnapshotFileName,
                                     environment.shell);
    }
    facts.configRead = session.readConfig();
    return facts;
}

}  // namespace

std::unique_ptr<AppDelegate> launchVelmora(WindowSession& session, WindowEnvironment& environment) {
    const LaunchFacts facts = runLaunchSteps(session, environment);
    if (!facts.configRead) return nullptr;
    auto window = std::make_unique<AppDelegate>(session, environment);
    window->needSignDriver = facts.needSignDriver;
    window->MyLayoutUI();
    window->RegisterNotifycation();
    window->startScalarRunAtLaunch();
    return window;
}

}  // namespace velmora::window
