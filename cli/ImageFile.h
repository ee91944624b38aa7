#pragma once
// Images named on the command line: the core decides whether one may be used
// (workflows/ImageChecks.h); this prints its decision. And the check of an output
// path, with an error that names the file, before any hub is touched.
#include <string>

#include "cli/CommandContext.h"
#include "workflows/ImageChecks.h"

namespace velmora::cli {

// The error line for a refused image: the core's reason, and for IDs the table
// does not list, the option that writes the image anyway.
std::string refusalLine(const ImageAdmission& admission);

// What the gate said of an image's signature besides its verdict: an unsigned
// image where keys are trusted, trust files passed over, and with withSigner who
// signed it. On standard error, so that standard output keeps exactly the status
// pane's lines.
void noteSignature(const CommandContext& command, const ImageSignature& signature, bool withSigner);

// The image to show or edit: admitted with error empty, or refused with error
// saying why (unreadable, not a regular file, empty, short, too large, no block).
ImageAdmission imageToEdit(const std::string& path, std::string& error);

// True when the file at path can be written: its folder exists and this process
// may create files in it, and nothing or a regular file stands at the path (a
// symbolic link, FIFO, device or folder is refused). "-", standard output, passes.
// Catches a mistyped or planted output path before a long hub operation instead
// of after it.
bool outputPathUsable(const std::string& path, std::string& error);

// The folder a file path lies in: "." for a bare file name, "/" for a file at the root.
std::string containingFolder(const std::string& path);

}  // namespace velmora::cli
