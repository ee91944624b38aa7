#pragma once
// A folder of inputs for the command line: a configuration naming the sample image
// for the scalar run, and image files good and bad.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/cli/CliProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {

inline const std::string kSampleImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";
inline const std::string kDefinitionFile = VELMORA_TEST_RESOURCES "/ic/ZeloSim.INI";

// What a run showed holds no byte that steers a terminal and no line that
// forges one of the program's own.
inline void expectShownHarmlessly(const std::string& shown) {
    EXPECT_EQ(shown.find_first_of("\x1b\x07\x9b"), std::string::npos) << shown;
    for (const std::string& line : lines(shown)) EXPECT_NE(line.rfind("FAKE", 0), 0u) << shown;
}

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(kSampleImage, folder_ / "fw.bin");
        std::ofstream(folder_ / "config.ini") << "[Parvane Config]\nFwBin = fw.bin\n"
                                                 "[Support Vid Pid]\nVID_00 = 0x2FE3\n"
                                                 "SSPID_00 = 0x0611\nHSPID_00 = 0x0610\n";
    }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    std::string config() const { return path("config.ini"); }

    std::string write(const std::string& name, const std::vector<char>& bytes) {
        std::ofstream(path(name), std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }

    std::vector<char> read(const std::string& file) const {
        std::ifstream stream(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    }

    // A hub command on the simulated hub with the folder's configuration.
    CliRun simulated(const std::string& scenario, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--config", config(), "--simulate=" + scenario});
        return runCli(arguments);
    }

    // Every port name in a recording becomes one with ESC, BEL and a line break
    // that forges a success: a recording's words are a file's, not the bus's.
    void makePortNamesHostile(const std::string& recording) const {
        std::ifstream in(recording);
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::string hostile = "\"1-1\\u001b[2J\\u0007\\nFAKE: Update FW Success\"";
        for (std::size_t at = text.find("\"1-1\""); at != std::string::npos;
             at = text.find("\"1-1\"", at + 1))
            text.replace(at, 5, hostile);
        std::ofstream(recording, std::ios::trunc) << text;
    }

    // A C1 control (CSI), ESC and BEL in the serial a hub gave each backup index
    // entry under folder; how many entries took it.
    static std::size_t giveBackupsAHostileSerial(const std::filesystem::path& folder) {
        std::size_t entries = 0;
        for (const std::filesystem::directory_entry& file :
             std::filesystem::recursive_directory_iterator(folder)) {
            if (!file.is_regular_file()) continue;
            std::ifstream in(file.path());
            std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            const std::size_t serial = text.find("\nserial=");
            if (serial == std::string::npos) continue;
            text.insert(serial + 8, std::string(1, '\x9b') + "2J\x1b]0;x\x07");
            std::ofstream(file.path(), std::ios::trunc) << text;
            ++entries;
        }
        return entries;
    }

    ScratchFolder scratch_{"velmora-cli"};
    std::filesystem::path folder_ = scratch_.path();
};

}  // namespace velmora::testing
