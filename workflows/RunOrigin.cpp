#include "workflows/RunOrigin.h"

namespace velmora {

const char* storedOrigin(RunOrigin origin) {
    switch (origin) {
        case RunOrigin::Real: return "";
        case RunOrigin::Simulated: return "simulated";
        case RunOrigin::Testbed: return "testbed";
    }
    return "";
}

std::optional<RunOrigin> originStored(const std::string& word) {
    for (const RunOrigin origin : {RunOrigin::Real, RunOrigin::Simulated, RunOrigin::Testbed})
        if (word == storedOrigin(origin)) return origin;
    return std::nullopt;
}

const char* originName(RunOrigin origin) {
    return origin == RunOrigin::Real ? "real" : storedOrigin(origin);
}

std::string originNameOfStored(const std::string& word) {
    const std::optional<RunOrigin> origin = originStored(word);
    return origin ? originName(*origin) : word;
}

}  // namespace velmora
