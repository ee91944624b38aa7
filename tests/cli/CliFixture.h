#pragma once
// A folder of inputs for the command line: a configuration naming the sample image
// for the scalar run, and image files good and bad.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/CliProcess.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {

inline const std::string kSampleImage = VELMORA_TEST_RESOURCES "/images/sample-update.bin";
inline const std::string kDefinitionFile = VELMORA_TEST_RESOURCES "/ic/ZeloSim.INI";

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

    ScratchFolder scratch_{"velmora-cli"};
    std::filesystem::path folder_ = scratch_.path();
};

}  // namespace velmora::testing
