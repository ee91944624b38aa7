#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velmora::fuzz {
namespace {

// Every input the readers take from a file is written anew for each run; in memory
// that costs a few microseconds, on a disk a good part of the run.
std::filesystem::path scratchParent() {
    const std::filesystem::path memory = "/dev/shm";
    std::error_code ignored;
    if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory(memory, ignored) &&
        ::access(memory.c_str(), W_OK) == 0) {
        return memory;
    }
    return std::filesystem::temp_directory_path();
}

struct ScratchFolder {
    ScratchFolder() {
        std::string pattern = (scratchParent() / "velmora-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) invariantFailed("cannot make a scratch folder");
        path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

const std::string& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchFolder() + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) invariantFailed("cannot write a scratch file");
    return path;
}

std::string resourcePath(const std::string& relativePath) {
    return std::string(VELMORA_FUZZ_RESOURCES) + "/" + relativePath;
}

const std::vector<std::uint8_t>& shippedSampleImage() {
    static const std::vector<std::uint8_t> image = [] {
        std::ifstream file(resourcePath("images/sample-update.bin"), std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
        if (bytes.empty()) invariantFailed("the shipped sample image cannot be read");
        return bytes;
    }();
    return image;
}

void invariantFailed(const char* what) {
    std::fprintf(stderr, "velmora fuzz: invariant failed: %s\n", what);
    std::abort();
}

}  // namespace velmora::fuzz
