#pragma once
// What the fuzz targets share: a scratch folder for the inputs that the code under
// test reads from a file, the shipped sample files, and a reporter that shows
// nothing. (The INI reader needs no
// silencing: loadIniFile keeps iniparser's complaints for its own error text.)
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workflows/WorkflowReporter.h"

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

// A workflow's lines go nowhere; the flash a read brings is stored at once.
class QuietReporter final : public WorkflowReporter {
public:
    void resetProgressInfo() override {}
    void appendProgressInfo_Blue(const std::string&) override {}
    void appendProgressInfo_Red(const std::string&) override {}
    void updateProgressBar(double, ProgressDelivery) override {}
    void showAlert(const std::string&) override {}
    void SetButtonStatus(bool) override {}
    void readFinished_FwFlash(const std::function<void()>& store) override { store(); }
};

}  // namespace velmora::fuzz
