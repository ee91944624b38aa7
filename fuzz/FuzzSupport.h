#pragma once
// What the fuzz targets share: a scratch folder for the inputs that the code under
// test reads from a file and the shipped sample files. (The INI reader needs no
// silencing: loadIniFile keeps iniparser's complaints for its own error text.)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::fuzz {

// A folder of this process's own below the temporary folder, made on first use
// and removed when the process ends.
const std::string& scratchFolder();
// Writes the bytes to name in the scratch folder (replacing the file) and answers its path.
std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// The shipped resource folder of the source tree, and the shipped sample image.
std::string resourcePath(const std::string& relativePath);
const std::vector<std::uint8_t>& shippedSampleImage();

// Stops the run with a message when an invariant of the code under test fails; the
// fuzzer records the input that did it.
[[noreturn]] void invariantFailed(const char* what);
inline void check(bool holds, const char* what) {
    if (!holds) invariantFailed(what);
}

}  // namespace velmora::fuzz
