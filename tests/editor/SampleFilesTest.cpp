#include "app/Console.h"
#include "editor/DescriptorFields.h"
#include "editor/EditorConstants.h"
#include "editor/PropertyModel.h"
#include "tests/support/SampleImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

namespace {

using namespace velmora::editor;

const std::string kResources = VELMORA_TEST_RESOURCES;

TEST(SampleFiles, DefinitionFileFillsEverySpecifiedPage) {
    velmora::SilentConsole console;
    PropertyModel model(console);
    model.LoadIni(kResources, "ic/ZeloSim.INI");
    std::set<std::string> pages;
    for (const auto& item : model.allItemList()) {
        pages.insert(item->pageName);
        EXPECT_LT(item->_addr, 256u) << item->propName;
    }
    EXPECT_EQ(pages, std::set<std::string>(kPageNames.begin(), kPageNames.end()));
}

TEST(SampleFiles, ShippedImageIsTheGeneratedOneAndShowsTheSimulatedHub) {
    std::ifstream file(kResources + "/images/sample-update.bin", std::ios::binary);
    const std::vector<std::uint8_t> shipped{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(shipped, velmora::testing::makeShippedSampleImage());
    FirmwareBuffer buffer;
    ASSERT_TRUE(FW_Parse(buffer, shipped.data(), static_cast<std::int64_t>(shipped.size())));
    const IdentityTexts texts = *UpdateTxt_FwFlash(buffer);
    EXPECT_EQ(texts.vid + texts.sspid + texts.hspid + texts.version, "2FE3061106100102");
    EXPECT_EQ(texts.manufacturer, "Velmora Labs");
    EXPECT_EQ(texts.serial, "SIM0001");

    velmora::SilentConsole console;
    PropertyModel model(console);
    model.LoadIni(kResources, "ic/ZeloSim.INI");
    model.RefreshCurValues(buffer);
    const std::vector<PropertyLine> lines = model.pageLines("SSC");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].value, "1 : On");
    EXPECT_EQ(lines[2].value, "1 : 31.5 kHz");
}

}  // namespace
