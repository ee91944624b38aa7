// The folders in the user's home: the data folder for chip definitions, the
// state folder of the history and the backups, and the log copy of "Get Log".
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/AppPaths.h"
#include "app/LogCopy.h"
#include "tests/support/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;

// Sets or clears a variable for one test and restores it afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct DataFolderCase {
    const char* dataHome;
    const char* home;
    const char* expected;
};

class UserDataFolder : public ::testing::TestWithParam<DataFolderCase> {};

TEST_P(UserDataFolder, FollowsTheBaseDirectoryRules) {
    ScopedVariable dataHome("XDG_DATA_HOME", GetParam().dataHome);
    ScopedVariable home("HOME", GetParam().home);
    EXPECT_EQ(velmora::userDataFolder(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, UserDataFolder,
                         ::testing::Values(DataFolderCase{"/data", "/home/a", "/data/velmora"},
                                           DataFolderCase{nullptr, "/home/a", "/home/a/.local/share/velmora"},
                                           DataFolderCase{"", "/home/a", "/home/a/.local/share/velmora"},
                                           DataFolderCase{"relative", "/home/a",
                                                          "/home/a/.local/share/velmora"},
                                           DataFolderCase{nullptr, nullptr, ""}));

// The state folder (history, backups): the home from the password database,
// whatever $HOME says (sudo may keep the calling user's).
TEST(StateFolder, FollowsTheStateHomeRuleWithTheUsersOwnHome) {
    const std::string home = ::getpwuid(::geteuid())->pw_dir;
    ScopedVariable elsewhere("HOME", "/home/somebody-else");
    for (const auto& [stateHome, expected] :
         std::vector<std::pair<const char*, std::string>>{{"/srv/state", "/srv/state/velmora"},
                                                          {"relative/state", home + "/.local/state/velmora"},
                                                          {nullptr, home + "/.local/state/velmora"}}) {
        ScopedVariable variable("XDG_STATE_HOME", stateHome);
        EXPECT_EQ(velmora::stateFolder(), expected);
    }
}

class LogCopy : public ::testing::Test {
protected:
    static std::string read(const fs::path& path) {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }

    velmora::testing::ScratchFolder scratch_{"velmora-log-copy"};
    const fs::path& folder_ = scratch_.path();
};

TEST_F(LogCopy, MakesTheDesktopAndReplacesAnOlderCopy) {
    const fs::path log = folder_ / "Velmora.log";
    std::ofstream(log) << "6.1.0\n";
    const fs::path desktop = folder_ / "home" / "Desktop";
    ASSERT_TRUE(velmora::copyLogFile(log.string(), desktop.string()));
    EXPECT_EQ(read(desktop / "Velmora.log"), "6.1.0\n");

    std::ofstream(log, std::ios::app) << "6.1.1\n";
    ASSERT_TRUE(velmora::copyLogFile(log.string(), desktop.string()));
    EXPECT_EQ(read(desktop / "Velmora.log"), "6.1.0\n6.1.1\n");
}

TEST_F(LogCopy, MissingLogLeavesTheOlderCopy) {
    std::ofstream(folder_ / "Velmora.log") << "old\n";
    EXPECT_FALSE(velmora::copyLogFile((folder_ / "absent.log").string(), folder_.string()));
    EXPECT_EQ(read(folder_ / "Velmora.log"), "old\n");
}

// A program run from its build tree reads the tree's own config.ini; a resource
// folder named in the environment brings its config.ini along. (The installed
// program's /etc/velmora/config.ini is checked on the unpacked package.)
TEST(DefaultConfigFile, FollowsTheResourceFolderOutsideAnInstall) {
    {
        ScopedVariable resources("VELMORA_RESOURCES", nullptr);
        EXPECT_EQ(fs::path(velmora::defaultConfigFile()), fs::path(velmora::resourceFolder()) / "config.ini");
        EXPECT_EQ(fs::weakly_canonical(velmora::resourceFolder()),
                  fs::weakly_canonical(VELMORA_TEST_RESOURCES));
    }
    ScopedVariable resources("VELMORA_RESOURCES", "/opt/velmora-data");
    EXPECT_EQ(velmora::defaultConfigFile(), "/opt/velmora-data/config.ini");
}

}  // namespace
