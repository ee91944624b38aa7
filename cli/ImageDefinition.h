#pragma once
// An IC definition file named with --ic, loaded into a property model with the
// image's current values.
#include <string>

#include "editor/PropertyModel.h"
#include "firmware/FirmwareBuffer.h"

namespace velmora::cli {

// False, with error naming the file, when it cannot be read or defines no property.
bool loadDefinition(const std::string& path, const FirmwareBuffer& image, editor::PropertyModel& model,
                    std::string& error);

}  // namespace velmora::cli
