#pragma once
// The three images the program keeps for its whole run. The front end owns one
// FirmwareBuffers and hands the workflows the buffer each one works on.
#include "firmware/FirmwareBuffer.h"

namespace velmora {

struct FirmwareBuffers {
    // The image chosen for the one-button update.
    FirmwareBuffer easyUpdate;
    // The image of the flash page: read from the hub or loaded from a file, edited
    // in place by the configuration editor, saved to a file.
    FirmwareBuffer flashPage;
    // The image a production station writes.
    FirmwareBuffer scalar;
};

}  // namespace velmora
