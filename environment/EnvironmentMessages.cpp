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

namespace {

std::string serialServerProblem(const std::string& server, const char* what, const std::string& reason) {
    return "history server " + server + " " + what + " (" + reason +
           "); the line's serial numbers are kept there, so this station does not start";
}

}  // namespace

std::string serialServerAway(const std::string& server, const std::string& reason) {
    return serialServerProblem(server, "cannot be reached", reason);
}

std::string serialServerRefused(const std::string& server, const std::string& reason) {
    return serialServerProblem(server, "refused this station's connection", reason);
}

}  // namespace velmora::messages
