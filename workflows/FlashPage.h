#pragma once
// The flash page's moves of its one image between the hub, the disk and memory:
// read the whole flash into the flash-page buffer, erase the flash, load a file.
// (Saving is in FlashPageSave.h.)
#include <string>

#include "firmware/FirmwareBuffer.h"
#include "workflows/WorkflowContext.h"

namespace velmora {

// The erase run on the update worker. The flash-page buffer is not touched, so the
// page still shows the image it showed before. True when the hub was erased and
// came back.
bool eraseFunc_FwFlash(const WorkflowContext& context);

// The read run on the update worker: 32768 bytes of flash, then the reporter's
// readFinished_FwFlash, which stores them into flashPage on the front end's thread
// and redraws the page. The buffer is left alone when the read fails. A flash
// without a configuration block still counts as read: flashPage then holds the
// bytes but is not loaded, and the page shows "Err" in its VID field.
bool readFunc_FwFlash(const WorkflowContext& context, FirmwareBuffer& flashPage);

enum class FlashPageLoad {
    Loaded,       // the file's image is in the buffer
    NoImage,      // the buffer holds no image now; the page empties its property list
    KeptEarlier,  // the file could not be read; the earlier image and its edits stay
};

// Loads a file into the flash-page buffer and shows the alert the outcome calls
// for. The front end then redraws the page from the buffer in every case.
FlashPageLoad load_FwFlash(FirmwareBuffer& flashPage, const std::string& path, WorkflowReporter& reporter);

}  // namespace velmora
