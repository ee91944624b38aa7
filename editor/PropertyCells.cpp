#include "editor/PropertyCells.h"

#include "editor/DefinitionFile.h"
#include "editor/EditorConstants.h"

#include <cctype>
#include <cstdio>

namespace velmora::editor {

namespace {

std::string optionTitle(const PropItem& item, std::size_t option) {
    return item.dataList[option] + " : " + item.propList[option];
}

bool startsWithNumber(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) {
        ++position;
    }
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        ++position;
    }
    return position < text.size() && std::isdigit(static_cast<unsigned char>(text[position]));
}

}  // namespace

std::vector<std::string> optionTitles(const PropItem& item) {
    std::vector<std::string> titles;
    for (std::size_t option = 0; option < item.dataList.size() && option < item.propList.size(); ++option) {
        titles.push_back(optionTitle(item, option));
    }
    return titles;
}

std::string cellValue(const PropItem& item, std::string_view column) {
    if (column == kPropertyColumn) {
        return item.property;
    }
    if (column == kCurrentValueColumn) {
        for (std::size_t option = 0; option < item.dataList.size() && option < item.propList.size();
             ++option) {
            if (item.dataList[option] == item.curValue) {
                return optionTitle(item, option);
            }
        }
    }
    return std::string(kEmptyValue);
}

std::optional<std::size_t> popupPosition(std::string_view cellText, std::size_t entryCount) {
    if (!startsWithNumber(cellText)) {
        return entryCount > 0 ? std::optional<std::size_t>(0) : std::nullopt;
    }
    // A negative number wraps to a huge position and so selects nothing.
    const std::size_t position = readDecimal(cellText);
    if (position >= entryCount) {
        return std::nullopt;
    }
    return position;
}

std::string descriptionText(const PropItem& item) {
    std::string text;
    if (item._key != 0) {
        char addressLine[48];
        std::snprintf(addressLine, sizeof addressLine, "(addr:0x%02X  mask:0x%02X)\n", item._addr & 0xFFu,
                      static_cast<unsigned>(item._mask));
        text += addressLine;
        text += item.propDesc + " : \n";
    }
    for (const std::string& title : optionTitles(item)) {
        text += title + "\n";
    }
    return text;
}

std::optional<std::size_t> findOption(const PropItem& item, std::string_view text) {
    const std::vector<std::string> titles = optionTitles(item);
    for (std::size_t option = 0; option < titles.size(); ++option) {
        if (item.dataList[option] == text || item.propList[option] == text || titles[option] == text) {
            return option;
        }
    }
    return std::nullopt;
}

}  // namespace velmora::editor
