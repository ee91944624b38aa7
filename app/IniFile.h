#pragma once
// Loading an INI file (config.ini, IC definition files) through iniparser, with the
// reason when it cannot be used. The file is opened as any untrusted input is
// (app/SafeFile.h): a FIFO or device at the path is refused instead of blocking the
// program, and iniparser's own complaint is kept as the reason instead of going to
// stderr.
#include <memory>
#include <string>

struct _dictionary_;  // iniparser's dictionary

namespace velmora {

struct IniDictionaryDeleter {
    void operator()(_dictionary_* dictionary) const;
};
using IniDictionary = std::unique_ptr<_dictionary_, IniDictionaryDeleter>;

struct IniLoad {
    IniDictionary dictionary;  // null when the file cannot be used
    std::string error;         // why not: the system's reason or iniparser's complaint
};

IniLoad loadIniFile(const std::string& path);

}  // namespace velmora
