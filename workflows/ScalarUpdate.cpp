#include "workflows/ScalarUpdate.h"

#include "workflows/EasyUpdate.h"
#include "workflows/WorkflowMessages.h"

namespace velmora {

std::string scalarImagePath(const ScalarSettings& settings) {
    // The resource folder and the configured name are joined with two slashes, which
    // the file system reads as one.
    return settings.resourcePath + "//" + settings.fwbinPath;
}

void chooseScalarUpdateFw(FirmwareBuffer& scalar, const std::string& path) {
    if (!FW_LoadFile(scalar, path) && scalar.loaded) {
        // Unreadable: the box now names this file, so the earlier image must not be
        // what the next run writes; the run says "Wrong firmware file" instead.
        scalar = FirmwareBuffer{};
    }
}

bool updateScalar(const WorkflowContext& context, FirmwareBuffer& scalar, const ScalarSettings& settings,
                  const std::string& imageName, ScalarImage source) {
    // A reload that fails leaves nothing to write: the image of an earlier run is
    // not the file the configuration names now (it may have been replaced or
    // withdrawn on purpose), so the run ends "Wrong firmware file".
    if (source == ScalarImage::Reload && !settings.fwbinPath.empty() &&
        !FW_LoadFile(scalar, scalarImagePath(settings)) && scalar.loaded) {
        scalar = FirmwareBuffer{};
    }
    const std::string imagePath = settings.fwbinPath.empty() ? imageName : scalarImagePath(settings);
    const bool succeeded =
        updateFuncAs(context, scalar, imageName, RunOperation::Scalar, imagePath).succeeded;
    if (succeeded && context.reporter.quitsAfterScalarSuccess()) {
        context.connection.clock().sleepFor(timing::kScalarExitDelay);
        context.reporter.quitAfterScalarSuccess();
    }
    return succeeded;
}

}  // namespace velmora
