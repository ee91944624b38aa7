#include "launch/LaunchSequence.h"

#include "app/AppPaths.h"
#include "app/Console.h"
#include "app/PrivateFolder.h"
#include "driver_install/BootArgsSnapshot.h"
#include "driver_install/SignatureEnforcement.h"

namespace velmora {

LaunchResult runLaunchSequence(const LaunchInputs& inputs) {
    Console& console = inputs.console;
    LaunchResult result;
    result.systemVersion = GeneralFunction::GetCurrentSystemVersion(console);
    // On Linux a driver load waits for a restart only where the kernel insists on
    // signed modules.
    result.needSignDriver = driver::moduleSignaturesEnforced(inputs.systemRoot);

    console.line("Current System Version: " + result.systemVersion);
    console.line("AP Path :" + inputs.programFolder.value_or(programFolder()) + " ");
    console.line("Resource Path :" + inputs.resourcePath.value_or(resourceFolder()) + " ");

    GeneralFunction::PrintNormalLog(result.systemVersion, inputs.logPath);

    result.privateFolder = inputs.privateFolder ? inputs.privateFolder : privateRuntimeFolder();
    if (result.privateFolder) {
        driver::takeBootArgsSnapshot(*result.privateFolder / driver::kSnapshotFileName, inputs.shell);
    }

    ConfigLoad load = readConfigFile(inputs.configPath, console);
    result.config = std::move(load.config);
    result.configError = std::move(load.error);
    return result;
}

}  // namespace velmora
