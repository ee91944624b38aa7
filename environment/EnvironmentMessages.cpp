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

}  // namespace velmora::messages
