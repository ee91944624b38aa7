#include "editor/DefinitionChoices.h"

#include <algorithm>

#include "editor/DefinitionFile.h"

namespace velmora::editor {

std::vector<DefinitionChoice> listDefinitionChoices(const std::string& resourceFolder,
                                                    const std::string& userFolder) {
    std::vector<DefinitionChoice> choices;
    for (const std::string& path : listDefinitionFiles(resourceFolder)) {
        choices.push_back({path, resourceFolder});
    }
    if (userFolder.empty()) return choices;
    for (const std::string& path : listDefinitionFiles(userFolder)) {
        auto shipped = std::find_if(choices.begin(), choices.end(), [&](const DefinitionChoice& choice) {
            return choice.relativePath == path;
        });
        if (shipped != choices.end()) {
            shipped->folder = userFolder;
        } else {
            choices.push_back({path, userFolder});
        }
    }
    return choices;
}

}  // namespace velmora::editor
