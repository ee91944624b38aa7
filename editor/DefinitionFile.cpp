#include "editor/DefinitionFile.h"

#include "app/Console.h"
#include "app/IniFile.h"
#include "editor/EditorConstants.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include <iniparser.h>

namespace velmora::editor {

namespace {

constexpr std::uint64_t kDecimalBase = 10;

// Looks up "prefix + key" in the loaded file; a missing file or key reads empty.
class SectionReader {
public:
    SectionReader(const dictionary* file, int index) : file_(file) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%s%02X:", std::string(kSectionPrefix).c_str(), index);
        prefix_ = prefix;
    }

    std::string text(std::string_view key) const {
        const std::string name = prefix_ + std::string(key);
        return iniparser_getstring(file_, name.c_str(), "");
    }

    std::string optionText(std::string_view key, int option) const {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%02X", option);
        return text(std::string(key) + suffix);
    }

    std::uint32_t number(std::string_view key) const { return readDecimal(text(key)); }

private:
    const dictionary* file_;
    std::string prefix_;
};

// Options are closed up: an index with no meaning is skipped, and a value text
// without a meaning is ignored with it.
void readOptions(const SectionReader& section, PropItem& item) {
    for (int option = 0; option < kOptionCount; ++option) {
        const std::string value = section.optionText("DataOption_", option);
        const std::string meaning = section.optionText("PropOption_", option);
        if (meaning.empty()) {
            continue;
        }
        item.propList.push_back(meaning);
        item.dataList.push_back(value.empty() ? std::to_string(option) : value);
    }
}

std::shared_ptr<PropItem> readItem(const SectionReader& section, int index) {
    const std::string name = section.text("PropName");
    if (name.empty()) {
        return nullptr;
    }
    auto item = std::make_shared<PropItem>();
    item->_key = static_cast<std::uint8_t>(index);
    item->_baseOnAddr = section.number("BaseOnAddr");
    item->_baseOnMask = static_cast<std::uint8_t>(section.number("BaseOnMask"));
    item->_addr = section.number("PropAddr");
    item->_mask = static_cast<std::uint8_t>(section.number("PropMask"));
    item->pageName = section.text("PageName");
    item->groupName = section.text("GroupName");
    item->propName = name;
    item->property = name;
    item->propDesc = section.text("PropDesp");
    readOptions(section, *item);
    item->curValue = item->dataList.empty() ? std::string(kConstValue) : item->dataList.front();
    return item;
}

bool insideBlock(const PropItem& item, int index, Console& console) {
    if (item._addr < kBlockOffsetLimit && item._baseOnAddr < kBlockOffsetLimit) {
        return true;
    }
    char line[160];
    std::snprintf(
        line, sizeof line,
        "%s%02X skipped: PropAddr %u or BaseOnAddr %u lies outside the 256-byte configuration block",
        std::string(kSectionPrefix).c_str(), index, item._addr, item._baseOnAddr);
    console.line(line);
    return false;
}

void collectDefinitionFiles(const std::filesystem::path& root, const std::filesystem::path& folder,
                            std::vector<std::string>& files) {
    std::error_code error;
    std::vector<std::filesystem::directory_entry> entries;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(), [](const auto& left, const auto& right) {
        return left.path().filename() < right.path().filename();
    });
    for (const auto& entry : entries) {
        // Linked folders are not followed: a link back up the tree would never end.
        if (entry.is_directory(error) && !entry.is_symlink(error)) {
            collectDefinitionFiles(root, entry.path(), files);
        } else if (entry.is_regular_file(error) && entry.path().extension() == kDefinitionExtension) {
            files.push_back(entry.path().lexically_relative(root).string());
        }
    }
}

}  // namespace

std::uint32_t readDecimal(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    // Unsigned arithmetic wraps instead of overflowing, and its low bits are exact.
    std::uint64_t value = 0;
    for (; position < text.size() && std::isdigit(static_cast<unsigned char>(text[position])); ++position) {
        value = value * kDecimalBase + static_cast<std::uint64_t>(text[position] - '0');
    }
    if (negative) {
        value = ~value + 1;
    }
    return static_cast<std::uint32_t>(value);
}

PropItemList readDefinitionFile(const std::string& path, Console& console, std::string* error) {
    PropItemList items;
    const IniLoad file = loadIniFile(path);
    if (!file.dictionary) {
        console.line("IC definition file not loaded: " + path + ": " + file.error);
        if (error != nullptr) *error = file.error;
        return items;
    }
    for (int index = 0; index <= kLastSectionIndex; ++index) {
        const SectionReader section(file.dictionary.get(), index);
        std::shared_ptr<PropItem> item = readItem(section, index);
        if (item && insideBlock(*item, index, console)) {
            items.push_back(std::move(item));
        }
    }
    return items;
}

std::vector<std::string> listDefinitionFiles(const std::string& folder) {
    std::vector<std::string> files;
    collectDefinitionFiles(folder, folder, files);
    return files;
}

}  // namespace velmora::editor
