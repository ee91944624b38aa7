// Writes the shipped sample firmware image: velmora_make_sample_image OUTPUT.bin
// The file is written beside its final name first and then renamed, so an
// interrupted run never leaves a half-written image.
#include "firmware/FirmwareBuffer.h"
#include "tests/support/SampleImage.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {
constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
}  // namespace

int main(int argumentCount, char** arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bin\n", arguments[0]);
        return kExitUsage;
    }
    const std::filesystem::path output = arguments[1];
    const std::vector<std::uint8_t> image = velmora::testing::makeShippedSampleImage();
    FirmwareBuffer check;
    if (!FW_Parse(check, image.data(), static_cast<std::int64_t>(image.size()))) {
        std::fprintf(stderr, "%s: the generated image has no configuration block\n", output.c_str());
        return kExitFailed;
    }
    const std::filesystem::path temporary = output.string() + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "%s: cannot write\n", temporary.c_str());
            return kExitFailed;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, output, error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", output.c_str(), error.message().c_str());
        std::filesystem::remove(temporary, error);
        return kExitFailed;
    }
    return kExitSuccess;
}
