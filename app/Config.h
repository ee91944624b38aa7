#pragma once
// config.ini: the window title, the scalar (mass-production) mode, the preset
// image, and the table of supported hubs. Read once at launch.
#include <cstdint>
#include <string>

#include "app/SupportedDeviceTable.h"

namespace velmora {

class Console;

inline constexpr const char* kConfigFileName = "config.ini";
inline constexpr const char* kDefaultAppTitle = "Velmora";
inline constexpr const char* kAppVersionSuffix = "  1.02";  // follows the title in the window

struct AppConfig {
    std::string appTitle = kDefaultAppTitle;
    std::int32_t isScalarMode = 0;
    std::string fwbinPath;  // relative to the folder of the config.ini it came from
    SupportedDeviceTable table;
    // [History] Server: the postgresql:// URI of a line's shared history; empty: none.
    std::string historyServer;
    // [Images] RequireSigned: an image without a signature is refused. A value
    // that is neither yes (1, true, yes) nor no (0, false, no) counts as yes: a
    // line that meant to require signatures must not lose the rule to a typo.
    bool requireSigned = false;

    bool scalarLayout() const { return isScalarMode == 1; }
};

// Reads the file with every key's default. A missing or unreadable file, or one the
// INI reader refuses, gives the defaults and an empty table, with a console line
// that says why.
AppConfig initFromIni(const std::string& configPath, Console& console);

struct ConfigLoad {
    AppConfig config;
    std::string error;  // empty when the file was read
};

// The same, keeping the reason the file could not be read, for callers that treat
// an unusable file as an error (a configuration the user named).
ConfigLoad readConfigFile(const std::string& configPath, Console& console);

}  // namespace velmora
