// The window's launch: its log line, the boot-args snapshot and the console lines.
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/gui/WindowFixture.h"

namespace velmora::testing {
namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

using WindowLaunchTest = WindowFixture;

TEST_F(WindowLaunchTest, LaunchWritesTheLogLineAndTakesTheSnapshotOnce) {
    std::filesystem::create_directories(folder());
    launch();
    const std::string log = readText(folder() / "Velmora.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    // The snapshot file is made by the program and filled by the shell command.
    EXPECT_TRUE(std::filesystem::exists(folder() / "private/nvram_setting.dat"));
    ASSERT_EQ(shell_.commands.size(), 1u);
    EXPECT_NE(shell_.commands[0].find("nvram_setting.dat"), std::string::npos);
    const std::vector<std::string> lines = consoleLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Current System Version: ", 0) == 0;
    }));
    EXPECT_TRUE(consoleHas("Resource Path :" + resourcePath() + " "));
}

}  // namespace
}  // namespace velmora::testing
