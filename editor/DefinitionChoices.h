#pragma once
// The chip-type list: the IC definition files shipped in the resource folder and
// those a user keeps in their own data folder, so chip definitions can be added
// without root. A user's file with the same relative path replaces the shipped one.
#include <string>
#include <vector>

namespace velmora::editor {

struct DefinitionChoice {
    std::string relativePath;  // what the chip-type list shows, e.g. "ic/ZeloSim.INI"
    std::string folder;        // where it is read from: folder + "/" + relativePath
};

// The resource folder's files first, then the user's, each folder's in the order of
// listDefinitionFiles. A user file that shadows a shipped one takes the shipped one's
// place in the list. An empty or missing user folder adds nothing.
std::vector<DefinitionChoice> listDefinitionChoices(const std::string& resourceFolder,
                                                    const std::string& userFolder);

}  // namespace velmora::editor
