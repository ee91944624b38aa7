#pragma once
// One chip configuration property read from an IC definition file: where its bits
// lie in the configuration block, the enabling field that must be non-zero before
// it may change, and its options. Plain data; the property model owns the items
// and shares them between its two lists.
#include <cstdint>
#include <string>
#include <vector>

struct PropItem {
    std::uint8_t _key = 0;  // section index; item 0 is a heading, never read from the image
    std::uint32_t _baseOnAddr = 0;
    std::uint8_t _baseOnMask = 0;
    std::uint32_t _addr = 0;
    std::uint8_t _mask = 0;
    std::string pageName;
    std::string groupName;
    std::string property;  // the table's "property" column: the same text as propName
    std::string propName;
    std::string propDesc;
    std::string curValue;               // compared with the option value texts in dataList
    std::vector<std::string> propList;  // option meanings
    std::vector<std::string> dataList;  // option value texts, same length as propList

    // The enabling field only counts when both its address and its mask are set.
    bool hasEnablingField() const { return _baseOnAddr != 0 && _baseOnMask != 0; }
};
