#pragma once
// The one-button update: a chosen image is erased, programmed, read back, compared
// and started on the hub. The scalar update runs the very same steps.
#include <string>

#include "firmware/FirmwareBuffer.h"
#include "workflows/RunOperation.h"
#include "workflows/RunOutcome.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

// The identity an image gives the hub, as the update box and the command line show it.
struct ImageIdentity {
    std::string vid;
    std::string sspid;
    std::string hspid;
    std::string version;  // empty when the block lies too near the start to have one
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// Only meaningful for a loaded buffer.
ImageIdentity identityOf(const FirmwareBuffer& image);

// Loads the chosen file into the easy-update buffer. False, after the alert, when
// the buffer holds no usable image afterwards. A file that cannot be read at all
// also empties the buffer: keeping the earlier image would let "Update" write a
// file other than the one the path now names.
bool chooseFw_EasyUpdate(FirmwareBuffer& buffer, const std::string& path, WorkflowReporter& reporter);

// The run on the update worker. imageName is what the FW line calls the image (the
// chosen path). Ends, on every path, with nothing open on the connection and the
// buttons enabled. True when the hub runs the new image.
bool updateFunc(const WorkflowContext& context, const FirmwareBuffer& image, const std::string& imageName);

// The same run, recorded as the operation named (the scalar update, the station,
// a restore and a recovery write the image with this very run) and with the
// image's real path for the record, which the FW line may not show.
// recoveredRun: for a recovery, the run whose backup it writes.
RunOutcome updateFuncAs(const WorkflowContext& context, const FirmwareBuffer& image,
                        const std::string& imageName, RunOperation operation, const std::string& imagePath,
                        const RunId& recoveredRun = {});

}  // namespace velmora
