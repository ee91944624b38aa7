#pragma once
// Reading an image named on the command line, and checking an output path, with an
// error that names the file and says what is wrong with it, before any hub is
// touched.
#include <string>

#include "cli/ImageRules.h"
#include "firmware/FirmwareBuffer.h"

namespace velmora::cli {

// True when the file's image is in buffer. Otherwise error says why: the system's
// reason for an unreadable file, what else the path is when it is not a regular
// file (a FIFO or device is refused, never read), or an empty, short, too large or
// block-less image.
bool loadImageFile(const std::string& path, FirmwareBuffer& buffer, std::string& error,
                   ImageUse use = ImageUse::Edit);

// True when the file at path can be written: its folder exists and this process
// may create files in it, and nothing or a regular file stands at the path (a
// symbolic link, FIFO, device or folder is refused). "-", standard output, passes.
// Catches a mistyped or planted output path before a long hub operation instead
// of after it.
bool outputPathUsable(const std::string& path, std::string& error);

// The folder a file path lies in: "." for a bare file name, "/" for a file at the root.
std::string containingFolder(const std::string& path);

}  // namespace velmora::cli
