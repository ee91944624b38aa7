#pragma once
// Reading an image named on the command line, with an error that names the file
// and says what is wrong with it, before any hub is touched.
#include <string>

#include "cli/ImageRules.h"
#include "firmware/FirmwareBuffer.h"

namespace velmora::cli {

// True when the file's image is in buffer. Otherwise error says why: the system's
// reason for an unreadable file, or an empty, short, too large or block-less image.
bool loadImageFile(const std::string& path, FirmwareBuffer& buffer, std::string& error,
                   ImageUse use = ImageUse::Edit);

// True when a file can be created at path (its folder exists and is a folder);
// catches a mistyped output path before a long hub operation instead of after it.
bool outputFolderUsable(const std::string& path, std::string& error);

// The folder a file path lies in: "." for a bare file name, "/" for a file at the root.
std::string containingFolder(const std::string& path);

}  // namespace velmora::cli
