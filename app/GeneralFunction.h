#pragma once
// Small utilities shared by the launch sequence, the flash page and the driver
// installation. Stateless; the window adds the alert.
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class Console;

inline constexpr const char* kLogFilePath = "/tmp/Velmora.log";
inline constexpr const char* kFallbackSystemVersion = "10.0.0";

class GeneralFunction {
public:
    GeneralFunction() = delete;

    // The running kernel's release as "major.minor.patch"; "10.0.0" when it cannot be read.
    static std::string GetCurrentSystemVersion(Console& console);
    // The same from a release text such as "6.1.0-28-amd64"; exposed for tests.
    static std::string SystemVersionFromRelease(std::string_view release, Console& console);

    // The path up to its last "/"; empty when there is none or it is the first character.
    static std::string GetDirFromPath(std::string_view path);

    // Appends the text and a newline to the log file, creating it when missing. The
    // file is opened directly (no shell) and never through a symbolic link, since
    // /tmp is shared with other users. Returns false when it cannot be written.
    static bool PrintNormalLog(std::string_view text, const std::string& logPath = kLogFilePath);

    // The whole file as UTF-8 text: empty when it cannot be opened, no text at all
    // when its bytes are not valid UTF-8.
    static std::optional<std::string> GetStringFromFile(const std::string& path);
};

}  // namespace velmora
