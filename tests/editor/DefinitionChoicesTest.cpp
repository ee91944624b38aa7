#include "EditorTestSupport.h"
#include "editor/DefinitionChoices.h"

#include <gtest/gtest.h>

namespace {

using namespace velmora::editor;
using velmora::testing::ScratchFolder;

std::vector<std::string> shown(const std::vector<DefinitionChoice>& choices) {
    std::vector<std::string> paths;
    for (const DefinitionChoice& choice : choices) paths.push_back(choice.relativePath);
    return paths;
}

TEST(DefinitionChoices, ShippedFilesFirstThenTheUsersAndAUserFileReplacesItsShippedTwin) {
    ScratchFolder folder;
    const std::string shipped = (folder.path() / "shipped").string();
    const std::string user = (folder.path() / "user").string();
    folder.writeText("shipped/ic/B.INI", "");
    folder.writeText("shipped/ic/A.INI", "");
    folder.writeText("shipped/ic/lower.ini", "");
    folder.writeText("user/ic/A.INI", "");
    folder.writeText("user/mine/Z.INI", "");
    folder.writeText("user/C.INI", "");

    const std::vector<DefinitionChoice> choices = listDefinitionChoices(shipped, user);
    EXPECT_EQ(shown(choices), (std::vector<std::string>{"ic/A.INI", "ic/B.INI", "C.INI", "mine/Z.INI"}));
    ASSERT_EQ(choices.size(), 4u);
    EXPECT_EQ(choices[0].folder, user);  // the user's A.INI is the one read
    EXPECT_EQ(choices[1].folder, shipped);
    EXPECT_EQ(choices[2].folder, user);
}

TEST(DefinitionChoices, MissingOrUnnamedUserFolderAddsNothing) {
    ScratchFolder folder;
    const std::string shipped = (folder.path() / "shipped").string();
    folder.writeText("shipped/X.INI", "");
    EXPECT_EQ(shown(listDefinitionChoices(shipped, "")), (std::vector<std::string>{"X.INI"}));
    EXPECT_EQ(shown(listDefinitionChoices(shipped, (folder.path() / "absent").string())),
              (std::vector<std::string>{"X.INI"}));
    EXPECT_TRUE(listDefinitionChoices((folder.path() / "absent").string(), "").empty());
}

}  // namespace
