#include "environment/EnvironmentMessages.h"

namespace velmora::messages {

std::string unusableConfig(const std::string& path, const std::string& reason) {
    std::string text = "--config: cannot use '";
    text += path;
    text += "': ";
    text += reason;
    return text;
}

std::string unknownScenario(const std::string& scenario) {
    std::string text = "--simulate: unknown scenario '";
    text += scenario;
    text += "' (see --help)";
    return text;
}

std::string serialServerAway(const std::string& server, const std::string& reason) {
    std::string text = "history server ";
    text += server;
    text += " cannot be reached (";
    text += reason;
    text += "); the line's serial numbers are kept there, so this station does not start";
    return text;
}

}  // namespace velmora::messages
