#pragma once
// The production-line update: the image named in the configuration is written with
// the easy update's run, and a station quits after a success so the operator only
// plugs in the next hub and starts the program again.
#include <string>

#include "firmware/FirmwareBuffer.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

struct ScalarSettings {
    std::string resourcePath;  // the folder that holds config.ini
    std::string fwbinPath;     // the configured image, relative to it; empty: none
};

// The path the configured image is loaded from.
std::string scalarImagePath(const ScalarSettings& settings);

// Picking another image with ".." loads it quietly: a bad file shows up only as
// the run's "Wrong firmware file". A file that cannot be read at all empties the
// buffer too, so the run never writes an image other than the one now named.
void chooseScalarUpdateFw(FirmwareBuffer& scalar, const std::string& path);

// Whether the scalar buffer already holds what the image gate admitted for this
// run (the configured image, read once, its signature judged from those very
// bytes), or the run reloads the configured image itself.
enum class ScalarImage { Reload, Admitted };

// The run on the update worker. With an image configured it is reloaded first
// (unless admitted for the run), so the configured image is what a station
// writes; a reload that fails empties the buffer, and the run ends "Wrong
// firmware file". imageName is what the FW line calls the image. After a success
// the station waits and quits when the front end asks for that
// (quitsAfterScalarSuccess); otherwise the run just returns.
bool updateScalar(const WorkflowContext& context, FirmwareBuffer& scalar, const ScalarSettings& settings,
                  const std::string& imageName, ScalarImage source = ScalarImage::Reload);

}  // namespace velmora
