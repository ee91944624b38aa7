#pragma once
// What one property shows in the table and the description pane, independent of
// any widget: the window and the command line render these texts as they are.
#include "editor/PropItem.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::editor {

// The pop-up entries, one per option in option order: "value : meaning".
std::vector<std::string> optionTitles(const PropItem& item);
// The text of a cell: the property name, or the title of the first option whose value
// text equals curValue; "Empty Value" for no match, no options or another column.
std::string cellValue(const PropItem& item, std::string_view column);
// The pop-up entry a cell text selects: its leading decimal number (0 when there is
// none, as for "Empty Value"). Nothing is selected when that number lies outside
// the list.
std::optional<std::size_t> popupPosition(std::string_view cellText, std::size_t entryCount);
// The description pane for a selected row: the address line and description
// (not for the heading item 0), then one "value : meaning" line per option.
std::string descriptionText(const PropItem& item);
// Finds an option by its value text, its meaning or its pop-up title, for callers
// that name options instead of clicking them.
std::optional<std::size_t> findOption(const PropItem& item, std::string_view text);

}  // namespace velmora::editor
