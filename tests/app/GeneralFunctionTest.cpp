#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdio>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Console.h"
#include "app/GeneralFunction.h"
#include "app/Utf8.h"
#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using TempFolder = testing::ScratchFolder;

std::string readAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(GetDirFromPathTest, CutsAtTheLastSlash) {
    EXPECT_EQ(GeneralFunction::GetDirFromPath("/Applications/Tool.app"), "/Applications");
    EXPECT_EQ(GeneralFunction::GetDirFromPath("Tool.app"), "");
    EXPECT_EQ(GeneralFunction::GetDirFromPath("/Tool.app"), "");
    EXPECT_EQ(GeneralFunction::GetDirFromPath("/a/b/"), "/a/b");
    EXPECT_EQ(GeneralFunction::GetDirFromPath(""), "");
}

TEST(SystemVersionTest, ReadsTheKernelRelease) {
    RecordingConsole console;
    EXPECT_EQ(GeneralFunction::SystemVersionFromRelease("6.1.0-28-amd64", console), "6.1.0");
    EXPECT_EQ(GeneralFunction::SystemVersionFromRelease("6.18.44-fc-v1272", console), "6.18.44");
    EXPECT_EQ(GeneralFunction::SystemVersionFromRelease("5.10", console), "5.10.0");
    EXPECT_TRUE(console.lines().empty());
}

TEST(SystemVersionTest, UnreadableReleaseFallsBackAndSaysSo) {
    RecordingConsole console;
    EXPECT_EQ(GeneralFunction::SystemVersionFromRelease("linux", console), "10.0.0");
    EXPECT_EQ(GeneralFunction::SystemVersionFromRelease("6-rc", console), "10.0.0");
    ASSERT_EQ(console.lines().size(), 2u);
    EXPECT_EQ(console.lines()[0].rfind("Unable to obtain system version: ", 0), 0u);
}

// The running kernel's own numbers, not the fallback (which also has three).
TEST(SystemVersionTest, RunningKernelGivesItsOwnThreeNumbers) {
    utsname name{};
    ASSERT_EQ(uname(&name), 0);
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(name.release, "%u.%u.%u", &major, &minor, &patch), 3) << name.release;
    RecordingConsole console;
    EXPECT_EQ(GeneralFunction::GetCurrentSystemVersion(console),
              std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch));
    EXPECT_TRUE(console.lines().empty());
}

TEST(PrintNormalLogTest, CreatesAndAppendsLinesVerbatim) {
    TempFolder folder;
    const fs::path log = folder / "Velmora.log";
    // Shell metacharacters are text, not commands.
    EXPECT_TRUE(GeneralFunction::PrintNormalLog("6.1.0", log.string()));
    EXPECT_TRUE(GeneralFunction::PrintNormalLog("$(touch pwned); `id` > x | y", log.string()));
    EXPECT_EQ(readAll(log), "6.1.0\n$(touch pwned); `id` > x | y\n");
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST(PrintNormalLogTest, RefusesToFollowAPlantedLink) {
    TempFolder folder;
    const fs::path target = folder / "victim";
    std::ofstream(target) << "untouched";
    fs::create_symlink(target, folder / "Velmora.log");
    EXPECT_FALSE(GeneralFunction::PrintNormalLog("6.1.0", (folder / "Velmora.log").string()));
    EXPECT_EQ(readAll(target), "untouched");
}

TEST(GetStringFromFileTest, MissingEmptyValidAndInvalidFiles) {
    TempFolder folder;
    EXPECT_EQ(GeneralFunction::GetStringFromFile((folder / "missing").string()), std::string{});

    std::ofstream(folder / "valid") << "kext-dev-mode=1 caf\xC3\xA9";
    EXPECT_EQ(GeneralFunction::GetStringFromFile((folder / "valid").string()), "kext-dev-mode=1 caf\xC3\xA9");

    std::ofstream(folder / "invalid") << "boot \xFF\xFE args";
    EXPECT_EQ(GeneralFunction::GetStringFromFile((folder / "invalid").string()), std::nullopt);
}

TEST(Utf8Test, RejectsMalformedSequences) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("\xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC3"));              // cut short
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\x80"));              // stray continuation
}

TEST(Utf8Test, MendsEachBadByteWithTheReplacementCharacter) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(withValidUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(withValidUtf8("a\xFF"
                            "b"),
              "a" + replacement + "b");
    EXPECT_EQ(withValidUtf8("\xC0\xAF"), replacement + replacement);  // overlong: two bad bytes
    EXPECT_EQ(withValidUtf8("end\xE2\x82"), "end" + replacement + replacement);
}

}  // namespace
}  // namespace velmora
