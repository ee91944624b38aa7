#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "metrics/MetricsFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::metrics {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

TEST(MetricsFileTest, RefusesPathsTheCollectorWouldNotReadOrMustNotBeReplaced) {
    const testing::ScratchFolder scratch;
    fs::create_symlink("/etc/passwd", scratch / "link.prom");
    fs::create_directory(scratch / "folder.prom");
    const struct {
        std::string path;
        const char* reason;  // empty: accepted
    } cases[] = {
        {scratch.path("station.prom"), ""},
        {scratch.path("station.txt"), "end in .prom"},
        {scratch.path(".prom"), "end in .prom"},
        {scratch.path("missing/station.prom"), "No such file or directory"},
        {scratch.path("link.prom"), "symbolic link"},
        {scratch.path("folder.prom"), "not replaced"},
    };
    for (const auto& one : cases) {
        std::string error;
        EXPECT_EQ(checkMetricsFile(one.path, error), *one.reason == '\0') << one.path;
        EXPECT_NE(error.find(one.reason), std::string::npos) << one.path << ": " << error;
    }
}

TEST(MetricsFileTest, WritesTheTextFormatWholeAndSaysWhenItCannot) {
    const testing::ScratchFolder scratch;
    const fs::path folder = scratch / "textfile";
    fs::create_directory(folder);
    const fs::path file = folder / "station.prom";
    int version = 0;
    std::vector<std::string> told;
    // The collector's own user reads it, whatever this process's umask.
    const mode_t umask = ::umask(077);
    {
        MetricsFile metricsFile(
            file.string(),
            [&version](ExpositionFormat format) {
                return format == ExpositionFormat::PrometheusText ? "v " + std::to_string(version) + "\n"
                                                                  : "wrong";
            },
            [&told](const std::string& line) { told.push_back(line); });
        version = 1;
        metricsFile.update();
    }
    ::umask(umask);
    EXPECT_EQ(contents(file), "v 1\n");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));

    // A symbolic link planted at the path is neither followed nor replaced; the
    // operator hears of it once, and again once the file is written.
    fs::remove(file);
    fs::create_symlink(scratch / "elsewhere", file);
    MetricsFile metricsFile(
        file.string(), [&version](ExpositionFormat) { return "v " + std::to_string(version) + "\n"; },
        [&told](const std::string& line) { told.push_back(line); });
    for (version = 2; version < 4; ++version) {
        metricsFile.update();
        metricsFile.flush();
    }
    EXPECT_FALSE(fs::exists(scratch / "elsewhere"));
    fs::remove(file);
    metricsFile.update();
    metricsFile.flush();
    EXPECT_EQ(contents(file), "v 4\n");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[0].find("not written: is a symbolic link"), std::string::npos) << told[0];
    EXPECT_EQ(told[1], "metrics file '" + file.string() + "' written again");
}

// Run as root, another user's file at the path stays theirs.
TEST(MetricsFileTest, LeavesAnotherUsersFileAlone) {
    if (!testing::runningAsRoot()) GTEST_SKIP() << "needs root, to give a file to another user";
    const testing::ScratchFolder scratch;
    const std::string file = scratch.writeText("theirs.prom", "theirs\n");
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    std::string error;
    EXPECT_FALSE(checkMetricsFile(file, error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    {
        MetricsFile(file, [](ExpositionFormat) { return std::string("ours\n"); }, {}).update();
    }
    EXPECT_EQ(contents(file), "theirs\n");
}

}  // namespace
}  // namespace velmora::metrics
