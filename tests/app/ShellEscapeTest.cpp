#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/ShellEscape.h"

namespace velmora {
namespace {

bool isEscapedCode(unsigned code) {
    return code == 0x20 || code == 0x21 || code == 0x22 || code == 0x24 || (code >= 0x26 && code <= 0x2A) ||
           code == 0x2C || (code >= 0x3A && code <= 0x40) || (code >= 0x5B && code <= 0x5E) || code == 0x60 ||
           (code >= 0x7B && code <= 0x7D);
}

TEST(ShellEscapePath, EscapesExactlyTheTwentyFiveShellCharacters) {
    unsigned escapedCount = 0;
    for (unsigned code = 1; code < 256; ++code) {
        const std::string byte(1, static_cast<char>(code));
        const std::string expected = isEscapedCode(code) ? "\\" + byte : byte;
        EXPECT_EQ(ShellEscapePath(byte), expected) << "byte 0x" << std::hex << code;
        if (isEscapedCode(code)) ++escapedCount;
    }
    EXPECT_EQ(escapedCount, 25u);
}

TEST(ShellEscapePath, EscapesBlanksAndParenthesesInPaths) {
    EXPECT_EQ(ShellEscapePath("/opt/Zelo Tools (v2)/share/velmora"),
              "/opt/Zelo\\ Tools\\ \\(v2\\)/share/velmora");
    EXPECT_EQ(ShellEscapePath("/a/b-c_d.e~f#g%h+i"), "/a/b-c_d.e~f#g%h+i");
    EXPECT_EQ(ShellEscapePath(""), "");
    EXPECT_EQ(ShellEscapePath(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(ShellEscapePath, EscapedPathSurvivesTheShellUnchanged) {
    const std::string path = "/tmp/x y(1)$HOME;`id`&'q'\"r\"<>|{}[]*?!@=^:,\\";
    const std::string command = "printf '%s' " + ShellEscapePath(path);
    FILE* shell = popen(command.c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string output;
    char buffer[256];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, shell)) > 0;) output.append(buffer, got);
    pclose(shell);
    EXPECT_EQ(output, path);
}

TEST(ShellEscapePath, ControlCharactersAreRecognised) {
    EXPECT_TRUE(holdsControlCharacters("/tmp/a\nrm -rf ~"));
    EXPECT_TRUE(holdsControlCharacters("/tmp/a\tb"));
    EXPECT_TRUE(holdsControlCharacters("/tmp/a\x7f"));
    EXPECT_FALSE(holdsControlCharacters("/tmp/caf\xc3\xa9 (1)"));
}

}  // namespace
}  // namespace velmora
