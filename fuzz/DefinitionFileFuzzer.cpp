// Any bytes as an IC definition file, read through the property model over the
// shipped sample image: every page, every cell, and the user choosing options.
#include <string>
#include <vector>

#include "app/Console.h"
#include "editor/EditorConstants.h"
#include "editor/PropertyModel.h"
#include "firmware/FirmwareBuffer.h"
#include "fuzz/FuzzSupport.h"

using velmora::fuzz::check;
namespace editor = velmora::editor;

namespace {

constexpr const char* kDefinitionName = "Fuzz.INI";
constexpr std::size_t kMostChoicesPerRow = 3;

FirmwareBuffer sampleBuffer() {
    const std::vector<std::uint8_t>& image = velmora::fuzz::shippedSampleImage();
    FirmwareBuffer buffer;
    FW_Parse(buffer, image.data(), static_cast<std::int64_t>(image.size()));
    return buffer;
}

void showAndChoose(editor::PropertyModel& model, FirmwareBuffer& flashPage, std::string_view page) {
    model.selectPage(page);
    const std::size_t rows = model.numberOfRows();
    check(rows == model.propItemList().size(), "row count");
    for (std::size_t row = 0; row < rows; ++row) {
        model.cellValue(row, editor::kPropertyColumn);
        model.cellValue(row, "curValue");
        model.descriptionText(row);
        const std::size_t titles = model.popupTitles(row).size();
        for (std::size_t position = 0; position < std::min(titles + 1, kMostChoicesPerRow); ++position) {
            const editor::OptionResult result = model.chooseOption(flashPage, row, position);
            check(result.highlightBegin <= velmora::image::kBlockBytes &&
                      result.highlightEnd <= velmora::image::kBlockBytes,
                  "highlight outside the block");
        }
    }
    check(model.descriptionText(rows).empty(), "a description for a row that does not exist");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::fuzz::writeScratchFile(kDefinitionName, data, size);
    velmora::SilentConsole console;
    editor::PropertyModel model(console);
    model.LoadIni(velmora::fuzz::scratchFolder(), kDefinitionName);
    for (const auto& item : model.allItemList()) {
        check(item->_addr < velmora::image::kBlockBytes && item->_baseOnAddr < velmora::image::kBlockBytes,
              "a property outside the block");
        check(item->propList.size() == item->dataList.size(), "options and values differ in number");
    }
    FirmwareBuffer flashPage = sampleBuffer();
    const std::vector<std::uint8_t> before = flashPage.data;
    model.RefreshCurValues(flashPage);
    for (const std::string_view page : editor::kPageNames) showAndChoose(model, flashPage, page);
    for (std::size_t index = 0; index < flashPage.data.size(); ++index) {
        if (flashPage.data[index] != before[index]) {
            check(index >= *flashPage.block && index < *flashPage.block + velmora::image::kBlockBytes,
                  "an option changed a byte outside the block");
        }
    }
    if (!model.allItemList().empty()) {
        const auto& first = model.allItemList().front();
        model.setProperty(flashPage, first->propName, first->dataList.empty() ? "" : first->dataList.front());
    }
    return 0;
}
