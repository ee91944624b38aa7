#include "app/Config.h"

#include <iniparser.h>

#include <cstdio>
#include <memory>

#include "app/Console.h"

namespace velmora {
namespace {

constexpr const char* kAppTitleKey = "Parvane Config:AppTitle";
constexpr const char* kScalarModeKey = "Parvane Config:ScalarMode";
constexpr const char* kFwBinKey = "Parvane Config:FwBin";
constexpr const char* kTableSection = "Support Vid Pid";

struct DictionaryDeleter {
    void operator()(dictionary* dict) const { iniparser_freedict(dict); }
};
using Dictionary = std::unique_ptr<dictionary, DictionaryDeleter>;

std::string tableKey(const char* field, std::size_t index) {
    char key[64];
    std::snprintf(key, sizeof key, "%s:%s_%02X", kTableSection, field, static_cast<unsigned>(index));
    return key;
}

std::uint16_t readId(dictionary* dict, const char* field, std::size_t index) {
    if (dict == nullptr) {
        return 0;
    }
    return static_cast<std::uint16_t>(iniparser_getint(dict, tableKey(field, index).c_str(), 0));
}

std::string readText(dictionary* dict, const char* key, const char* fallback) {
    if (dict == nullptr) {
        return fallback;
    }
    const char* value = iniparser_getstring(dict, key, fallback);
    return value != nullptr ? value : fallback;
}

void fillTable(dictionary* dict, SupportedDeviceTable& table, Console& console) {
    table.clear();
    for (std::size_t index = 0; index < SupportedDeviceTable::kEntryCount; ++index) {
        const std::uint16_t vid = readId(dict, "VID", index);
        const std::uint16_t hspid = readId(dict, "HSPID", index);
        const std::uint16_t sspid = readId(dict, "SSPID", index);
        if (vid == 0 || sspid == 0 || hspid == 0) {
            continue;
        }
        table.set(index, vid, sspid, hspid);
        char line[96];
        std::snprintf(line, sizeof line, "vid:0x%x   ;    sspid:0x%x ;    hspid:0x%x \n", vid, sspid, hspid);
        console.line(line);
    }
}

}  // namespace

AppConfig initFromIni(const std::string& configPath, Console& console) {
    AppConfig config;
    Dictionary dict(iniparser_load(configPath.c_str()));
    config.appTitle = readText(dict.get(), kAppTitleKey, kDefaultAppTitle);
    config.isScalarMode = dict ? iniparser_getint(dict.get(), kScalarModeKey, 0) : 0;
    config.fwbinPath = readText(dict.get(), kFwBinKey, "");
    fillTable(dict.get(), config.table, console);
    dict.reset();

    console.line("App title: " + config.appTitle);
    console.line("Fw Bin: " + config.fwbinPath);
    console.line("ScalarMode: " + std::to_string(config.isScalarMode));
    return config;
}

}  // namespace velmora
