#pragma once
// Reading IC definition files: every "HubFF_USB_nn" section with a property name
// becomes one PropItem, in section index order.
#include "editor/PropItem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {
class Console;
}

namespace velmora::editor {

using PropItemList = std::vector<std::shared_ptr<PropItem>>;

// The numbers of a definition file are decimal text: leading blanks, an optional
// sign, then digits up to the first other character. No digits (0x1F included)
// reads 0. The result keeps the low 32 bits, wrapping as the file's writer would expect.
std::uint32_t readDecimal(std::string_view text);

// The items of the file at path. A file that cannot be opened, is not a regular
// file or that the INI reader refuses yields no items, and error (when given) says
// why. A property whose own or enabling address lies
// outside the 256-byte configuration block is skipped with a console line, so no
// later read or write can leave the block.
PropItemList readDefinitionFile(const std::string& path, Console& console, std::string* error = nullptr);

// The IC definition files below folder: paths relative to it, of regular files whose
// extension is exactly ".INI". Each folder's entries are taken in name order and a
// subfolder is walked where it appears, so the list and its first entry are stable.
std::vector<std::string> listDefinitionFiles(const std::string& folder);

}  // namespace velmora::editor
