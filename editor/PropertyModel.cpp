#include "editor/PropertyModel.h"

#include "app/Console.h"
#include "editor/EditorConstants.h"
#include "editor/GenFun.h"
#include "editor/PropertyCells.h"

#include <cstdio>

namespace velmora::editor {

namespace {

// Block bytes are reached only through checked offsets: an item built by hand may
// carry any address, and nothing may touch bytes outside the block.
const std::uint8_t* blockByte(const FirmwareBuffer& buffer, std::uint32_t offset) {
    if (!buffer.hasBlock() || offset >= kBlockOffsetLimit) {
        return nullptr;
    }
    return &buffer.data[*buffer.block + offset];
}

std::uint8_t* blockByte(FirmwareBuffer& buffer, std::uint32_t offset) {
    return const_cast<std::uint8_t*>(blockByte(static_cast<const FirmwareBuffer&>(buffer), offset));
}

std::string formatted(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

PropertyModel::PropertyModel(Console& console) : console_(console) {}

void PropertyModel::LoadIni(const std::string& folder, const std::string& definition) {
    clear();
    loadError_.clear();
    if (definition.empty()) {
        return;
    }
    const std::string path = folder + "/" + definition;
    console_.line("ini is: " + path);
    allItemList_ = readDefinitionFile(path, console_, &loadError_);
}

void PropertyModel::clear() {
    propItemList_.clear();
    allItemList_.clear();
}

void PropertyModel::RefreshCurValues(const FirmwareBuffer& flashPage) {
    for (const auto& item : allItemList_) {
        if (item->_key == 0) {
            continue;
        }
        if (const std::uint8_t* byte = blockByte(flashPage, item->_addr)) {
            item->curValue = std::to_string(GF_GetMaskValue(byte, item->_mask));
        }
    }
}

void PropertyModel::selectPage(std::string_view pageName) {
    console_.line("selected value:" + std::string(pageName));
    propItemList_.clear();
    for (const auto& item : allItemList_) {
        if (item->pageName == pageName) {
            propItemList_.push_back(item);
        }
    }
}

std::size_t PropertyModel::numberOfRows() const {
    console_.line("Enter numberOfRowsInTableView");
    return propItemList_.size();
}

std::string PropertyModel::cellValue(std::size_t row, std::string_view column) const {
    if (row >= propItemList_.size()) {
        return std::string(kEmptyValue);
    }
    return editor::cellValue(*propItemList_[row], column);
}

std::vector<std::string> PropertyModel::popupTitles(std::size_t row) const {
    if (row >= propItemList_.size()) {
        return {};
    }
    return optionTitles(*propItemList_[row]);
}

std::string PropertyModel::descriptionText(std::size_t row) const {
    if (row >= propItemList_.size()) {
        return {};
    }
    const PropItem& item = *propItemList_[row];
    console_.line(formatted(
        "key:%d\nbaseOnAddr:%u\nbaseOnMask:%d\npageName:%s\ngroupName:%s\nPropName:%s\n"
        "PropDesc:%s\naddr:%u\nmask:%d\n",
        item._key, item._baseOnAddr, item._baseOnMask, item.pageName.c_str(), item.groupName.c_str(),
        item.propName.c_str(), item.propDesc.c_str(), item._addr, item._mask));
    return editor::descriptionText(item);
}

OptionResult PropertyModel::chooseOption(FirmwareBuffer& flashPage, std::size_t row, std::size_t position) {
    if (row >= propItemList_.size()) {
        return {OptionOutcome::NoSuchRow, {}, 0, 0};
    }
    return chooseOption(flashPage, *propItemList_[row], position);
}

OptionResult PropertyModel::chooseOption(FirmwareBuffer& flashPage, PropItem& item, std::size_t position) {
    if (!flashPage.loaded) {
        return {OptionOutcome::NotLoaded, {}, 0, 0};
    }
    std::uint8_t* byte = blockByte(flashPage, item._addr);
    if (byte == nullptr || blockByte(flashPage, item._baseOnAddr) == nullptr) {
        return {OptionOutcome::NoSuchRow, {}, 0, 0};
    }
    if (position >= item.dataList.size()) {
        return {OptionOutcome::NoSuchOption, {}, 0, 0};
    }
    if (!isEditable(flashPage, item)) {
        return {OptionOutcome::NotEditable, notEditableAlert(item), 0, 0};
    }
    GF_SetMaskValue(byte, item._mask, static_cast<std::uint8_t>(position));
    item.curValue = std::to_string(position);
    logChange(item, position);
    return {OptionOutcome::Changed, {}, item._addr, item._addr + 1};
}

OptionResult PropertyModel::setProperty(FirmwareBuffer& flashPage, std::string_view propertyName,
                                        std::string_view option) {
    const std::shared_ptr<PropItem> item = findProperty(propertyName);
    if (!item) {
        return {OptionOutcome::NoSuchRow, {}, 0, 0};
    }
    const std::optional<std::size_t> position = findOption(*item, option);
    if (!position) {
        return {flashPage.loaded ? OptionOutcome::NoSuchOption : OptionOutcome::NotLoaded, {}, 0, 0};
    }
    return chooseOption(flashPage, *item, *position);
}

std::shared_ptr<PropItem> PropertyModel::findProperty(std::string_view propertyName) const {
    for (const auto& item : allItemList_) {
        if (item->propName == propertyName) {
            return item;
        }
    }
    return nullptr;
}

std::vector<PropertyLine> PropertyModel::pageLines(std::string_view pageName) const {
    std::vector<PropertyLine> lines;
    for (const auto& item : allItemList_) {
        if (item->pageName == pageName) {
            lines.push_back({item->property, editor::cellValue(*item, kCurrentValueColumn)});
        }
    }
    return lines;
}

std::string PropertyModel::notEditableAlert(const PropItem& item) const {
    std::string controllingName(kUnnamedEnablingField);
    for (const auto& candidate : allItemList_) {
        if (candidate->_addr == item._baseOnAddr && candidate->_mask == item._baseOnMask) {
            controllingName = candidate->propName;
            break;
        }
    }
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    GF_Mask2Bits(item._baseOnMask, &high, &low);
    return formatted(
        "This Item is Not Editable.  To Change this Item,you should set\n\n %s\n(Addr 0x%02X[%d:%d])\n\n"
        "from 0 to 1",
        controllingName.c_str(), item._baseOnAddr, high, low);
}

bool PropertyModel::isEditable(const FirmwareBuffer& flashPage, const PropItem& item) const {
    const std::uint8_t enablingValue =
        GF_GetMaskValue(blockByte(flashPage, item._baseOnAddr), item._baseOnMask);
    console_.line(formatted("baseOnMask=%d;baseOnAddr=%u;baseOnValue=%d", item._baseOnMask, item._baseOnAddr,
                            enablingValue));
    return !item.hasEnablingField() || enablingValue != 0;
}

void PropertyModel::logChange(const PropItem& item, std::size_t position) const {
    console_.line(formatted("value = %zu", position));
    console_.line(formatted("baseOnAddr:%u\nbaseOnMask:%d\npageName:%s\nPropName:%s\naddr:%u\nmask:%d\n",
                            item._baseOnAddr, item._baseOnMask, item.pageName.c_str(), item.propName.c_str(),
                            item._addr, item._mask));
}

}  // namespace velmora::editor
