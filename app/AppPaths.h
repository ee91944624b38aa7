#pragma once
// Where the program finds what ships beside it (config.ini, IC definition files,
// the driver and its scripts).
#include <string>

namespace velmora {

// The installed resource folder (<prefix>/share/velmora beside <prefix>/bin), or,
// for a program run from its build tree, the source tree's resources folder.
// VELMORA_RESOURCES in the environment overrides both.
std::string resourceFolder();

// The config.ini a program reads when none is named: for an installed program the
// system's own (<sysconfdir>/velmora/config.ini, /etc/velmora for a /usr install),
// which a package keeps as a configuration file so a local edit survives an
// upgrade; for a program run from its build tree, or with VELMORA_RESOURCES set,
// the resource folder's copy.
std::string defaultConfigFile();

// The system's configuration folder (<sysconfdir>/velmora, /etc/velmora for a
// /usr install), whatever config.ini a run reads: what the system's administrator
// decides for every run (the keys images may be signed with) lies there.
std::string systemConfigFolder();

// The folder that holds the running program.
std::string programFolder();

// The user's own data folder for Velmora, where chip definitions can be added
// without root: $XDG_DATA_HOME/velmora, or ~/.local/share/velmora when that is
// unset or not absolute. Empty when neither can be told.
std::string userDataFolder();

}  // namespace velmora
