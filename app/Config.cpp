#include "app/Config.h"

#include <iniparser.h>

#include <cstdio>

#include "app/Console.h"
#include "app/IniFile.h"

namespace velmora {
namespace {

constexpr const char* kAppTitleKey = "Parvane Config:AppTitle";
constexpr const char* kScalarModeKey = "Parvane Config:ScalarMode";
constexpr const char* kFwBinKey = "Parvane Config:FwBin";
constexpr const char* kTableSection = "Support Vid Pid";
constexpr const char* kHistoryServerKey = "History:Server";
constexpr const char* kRequireSignedKey = "Images:RequireSigned";

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

// iniparser's booleans: 1, y, t (either case) are yes; 0, n, f are no. Any other
// value that is set is taken as yes, with a console line; an empty one as unset.
bool readRequireSigned(dictionary* dict, Console& console) {
    const std::string text = readText(dict, kRequireSignedKey, "");
    if (text.empty()) return false;
    const int value = iniparser_getboolean(dict, kRequireSignedKey, -1);
    if (value == -1)
        console.line("RequireSigned: '" + text + "' is neither 1 nor 0; signed images are required");
    return value != 0;
}

}  // namespace

AppConfig initFromIni(const std::string& configPath, Console& console) {
    return readConfigFile(configPath, console).config;
}

ConfigLoad readConfigFile(const std::string& configPath, Console& console) {
    ConfigLoad load;
    AppConfig& config = load.config;
    IniLoad dict = loadIniFile(configPath);
    if (!dict.dictionary) {
        load.error = dict.error;
        console.line("config file not read, using the defaults: " + configPath + ": " + load.error);
    }
    dictionary* file = dict.dictionary.get();
    config.appTitle = readText(file, kAppTitleKey, kDefaultAppTitle);
    config.isScalarMode = file ? iniparser_getint(file, kScalarModeKey, 0) : 0;
    config.fwbinPath = readText(file, kFwBinKey, "");
    config.historyServer = readText(file, kHistoryServerKey, "");
    config.requireSigned = readRequireSigned(file, console);
    fillTable(file, config.table, console);
    dict.dictionary.reset();

    console.line("App title: " + config.appTitle);
    console.line("Fw Bin: " + config.fwbinPath);
    console.line("ScalarMode: " + std::to_string(config.isScalarMode));
    if (config.requireSigned) console.line("RequireSigned: 1");
    return load;
}

}  // namespace velmora
