// velmora: the window. Options are read before any display is touched, so
// --help and --version work anywhere; without a display the program says so.
#include <unistd.h>

#include <QApplication>
#include <QStandardPaths>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/PrivateFolder.h"
#include "driver_install/CommandRunners.h"
#include "history/HistoryLocation.h"
#include "host/SignalDeferral.h"
#include "window/AppDelegate.h"
#include "window/Launch.h"
#include "window/QtDialogs.h"
#include "window/WindowEnvironment.h"
#include "window/WindowOptions.h"
#include "window/WindowSession.h"

using namespace velmora::window;

int main(int argc, char* argv[]) {
    const ParsedWindowOptions parsed = parseWindowOptions(std::vector<std::string>(argv + 1, argv + argc));
    velmora::history::hideUriPasswords(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << kProgramName << ": " << parsed.error << '\n';
        return kBadUsageExit;
    }
    if (parsed.options.help) {
        std::cout << usageText();
        return 0;
    }
    if (parsed.options.version) {
        std::cout << versionText();
        return 0;
    }
    if (!displayAvailable()) {
        std::cerr << noDisplayText();
        return kBadUsageExit;
    }
    // Before anything can reach a hub: a stop signal then waits for a flash write to end.
    velmora::host::SignalDeferral signalOwner(kProgramName);
    std::string error;
    std::unique_ptr<WindowSession> session = WindowSession::create(parsed.options, error, &signalOwner);
    if (!session) {
        std::cerr << kProgramName << ": " << error << '\n';
        return kBadUsageExit;
    }

    QApplication application(argc, argv);
    QtDialogs dialogs;
    // pkexec asks for consent; a window run as root runs the scripts directly.
    const std::unique_ptr<velmora::driver::PrivilegedRunner> privileged =
        velmora::driver::privilegedRunnerFor(::geteuid());
    velmora::driver::SystemShellRunner shell;
    WindowEnvironment environment{dialogs, *privileged, shell};
    environment.privateFolder = velmora::privateRuntimeFolder();
    environment.desktopFolder =
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation).toStdString();
    environment.quit = [](int status) { QCoreApplication::exit(status); };
    // The station abandoned: as the command line's second Ctrl-C, the process ends
    // once the flash writes in progress are done; the window stays until then.
    environment.endAfterFlashWrites = [&signalOwner](int status) {
        std::thread([&signalOwner, status] { signalOwner.exitAfterSpans(status); }).detach();
    };

    std::unique_ptr<AppDelegate> window =
        launchVelmora(*session, environment, &error, parsed.options.station);
    if (!window) {
        std::cerr << kProgramName << ": " << error << '\n';
        return kBadUsageExit;
    }
    window->show();
    const int status = application.exec();
    window->shutDown();
    if (const std::optional<std::string> problem = session->environment().recordingProblem())
        std::cerr << kProgramName << ": " << *problem << '\n';
    // A replay that went elsewhere than its recording fails, however the window ended.
    if (const std::optional<std::string> line = session->environment().replayDivergence()) {
        std::cerr << kProgramName << ": " << *line << '\n';
        return kReplayDivergedExit;
    }
    return status;
}
