#pragma once
// Reading an image named on the command line, with an error that names the file
// and says what is wrong with it, before any hub is touched.
#include <string>

#include "firmware/FirmwareBuffer.h"

namespace velmora::cli {

// Image commands read whole files; anything larger than this is no image of the
// hub's (its flash holds 32 KiB) and is refused before it is read.
inline constexpr long long kLargestImageFileBytes = 16LL * 1024 * 1024;

// What the image is for: shown or edited, or written into a hub's flash.
enum class ImageUse { Edit, Flash };

// The size rules alone: any image up to kLargestImageFileBytes, and an image for
// the flash no larger than the flash. False with error saying why.
bool imageSizeAllowed(const std::string& path, long long size, ImageUse use, std::string& error);

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
