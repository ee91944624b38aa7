#pragma once
// The property model behind the table: the items of the selected IC definition file
// (allItemList) and those of the selected page (propItemList, the table's rows).
// Both lists hold the same item objects, so a change made through a row shows in
// both. The window's table controller and the command line wrap one model each.
#include "editor/DefinitionFile.h"
#include "editor/PropItem.h"
#include "firmware/FirmwareBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {
class Console;
}

namespace velmora::editor {

enum class OptionOutcome {
    Changed,       // the bits were written; paint the highlight range
    NotEditable,   // the enabling field is 0; show alertText, the buffer is unchanged
    NotLoaded,     // no image in the buffer: nothing happens
    NoSuchRow,     // row or property name unknown
    NoSuchOption,  // the position or option text is not one of the item's options
};

struct OptionResult {
    OptionOutcome outcome = OptionOutcome::NotLoaded;
    std::string alertText;
    std::uint32_t highlightBegin = 0;
    std::uint32_t highlightEnd = 0;
};

struct PropertyLine {
    std::string property;
    std::string value;  // the "curValue" cell text
};

class PropertyModel {
public:
    explicit PropertyModel(Console& console);

    // Replaces allItemList with the items of folder/definition and empties
    // propItemList. An empty definition (no file to choose) gives no items.
    void LoadIni(const std::string& folder, const std::string& definition);
    // Why the last LoadIni read no file; empty when it was read.
    const std::string& loadError() const { return loadError_; }
    // Empties both lists, as after an image that failed its format check.
    void clear();
    // Sets curValue of every item but item 0 from the image's configuration block.
    void RefreshCurValues(const FirmwareBuffer& flashPage);
    // Makes the items whose page name equals pageName exactly the table's rows.
    void selectPage(std::string_view pageName);

    const PropItemList& allItemList() const { return allItemList_; }
    const PropItemList& propItemList() const { return propItemList_; }

    std::size_t numberOfRows() const;
    std::string cellValue(std::size_t row, std::string_view column) const;
    std::vector<std::string> popupTitles(std::size_t row) const;
    // The description pane text of a row; empty for a row that does not exist.
    std::string descriptionText(std::size_t row) const;

    // The user chose the pop-up entry at position in a row of the table.
    OptionResult chooseOption(FirmwareBuffer& flashPage, std::size_t row, std::size_t position);
    OptionResult chooseOption(FirmwareBuffer& flashPage, PropItem& item, std::size_t position);
    // The command line's "set NAME to OPTION": the option named by its value text,
    // meaning or "value : meaning" title.
    OptionResult setProperty(FirmwareBuffer& flashPage, std::string_view propertyName,
                             std::string_view option);

    // The first item with this property name, or nothing.
    std::shared_ptr<PropItem> findProperty(std::string_view propertyName) const;
    // The rows a page would show, without changing the selected page.
    std::vector<PropertyLine> pageLines(std::string_view pageName) const;
    // The alert for an item whose enabling field is 0, naming the property that
    // controls that field.
    std::string notEditableAlert(const PropItem& item) const;

private:
    bool isEditable(const FirmwareBuffer& flashPage, const PropItem& item) const;
    void logChange(const PropItem& item, std::size_t position) const;

    Console& console_;
    PropItemList allItemList_;
    PropItemList propItemList_;
    std::string loadError_;
};

}  // namespace velmora::editor
