// The window holds images and hubs to the rules the command line holds them to,
// through the core's admission: what it refuses reaches no hub, says why in an
// alert (or, for the run at launch, in the pane), and leaves every button usable.
#include <QPushButton>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "WindowFixture.h"
#include "device/simulated/HubFaults.h"

namespace velmora::testing {
namespace {

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The sample image with other IDs in its configuration block (at 0x7F00).
std::vector<std::uint8_t> withIds(std::vector<std::uint8_t> image, std::uint16_t vid, std::uint16_t sspid,
                                  std::uint16_t hspid) {
    const std::uint16_t ids[] = {vid, sspid, hspid};
    for (std::size_t index = 0; index < 3; ++index) {
        image.at(0x7F02 + 2 * index) = static_cast<std::uint8_t>(ids[index] >> 8);
        image.at(0x7F03 + 2 * index) = static_cast<std::uint8_t>(ids[index] & 0xFF);
    }
    return image;
}

// What a refusal must never send: a reset, an erase, a program or a flash read,
// named in the order sent. (Detection's handshakes and status reads are harmless.)
std::string touchingRequests(const sim::SimulatedHub& hub) {
    std::string names;
    for (const sim::RecordedRequest& request : hub.requests()) {
        switch (const sim::RequestKind kind = sim::classifyRequest(request.setup)) {
            case sim::RequestKind::ResetToRomCode:
            case sim::RequestKind::ResetToFlashCode:
            case sim::RequestKind::EraseFlash:
            case sim::RequestKind::WriteFlash:
            case sim::RequestKind::ReadFlash: names += std::string(sim::requestKindName(kind)) + " "; break;
            default: break;
        }
    }
    return names;
}

const std::string kPaneEnd = "\nWrong firmware file\nUpdate FW Fail\n";

class SafetyRulesTest : public WindowFixture {
protected:
    void chooseEasyUpdateImage(const std::string& path) {
        dialogs_.openAnswers.push_back(QString::fromStdString(path));
        window().easyUpdateBox().btnSelect_EasyUpdate->click();
    }
    // Presses the easy update with the image chosen; the hub's log starts empty.
    void updateWith(const std::string& path) {
        chooseEasyUpdateImage(path);
        dialogs_.alerts.clear();
        hub().clearRequests();
        window().easyUpdateBox().btnUpdate_EasyUpdate->click();
        ASSERT_TRUE(waitForWorkflowEnd());
    }
    std::string writeResource(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::filesystem::create_directories(folder() / "resources");
        return writeFile("resources/" + name, bytes);
    }
};

TEST_F(SafetyRulesTest, AnImageWithUnlistedIdsIsRefusedWithTheIdsAndHowToProceed) {
    launch();
    const std::string file =
        writeFile("other.bin", withIds(readBytes(sampleImagePath()), 0x1234, 0x5678, 0x5679));
    updateWith(file);
    const std::string reason =
        "'" + file +
        "' gives the hub the IDs 1234:5678 and 1234:5679, which the configuration does "
        "not list: the hub would not be found after the update";
    EXPECT_EQ(dialogs_.alerts,
              (std::vector<std::string>{reason + ".\nTo write it, add these IDs to config.ini first."}));
    EXPECT_EQ(paneText().toStdString(), reason + kPaneEnd);
    EXPECT_EQ(paneColour(), QColor(Qt::red));
    EXPECT_EQ(touchingRequests(hub()), "");
    EXPECT_TRUE(allButtonsEnabled());
}

TEST_F(SafetyRulesTest, AnUnsignedImageIsRefusedWhereSignedImagesAreRequired) {
    launch(WindowSetup{}.withSignedImagesRequired());
    const std::string file = writeFile("unsigned.bin", readBytes(sampleImagePath()));
    updateWith(file);
    const std::string reason =
        file + " is not signed (no " + file + ".minisig), and signed images are required (RequireSigned)";
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{reason}));
    EXPECT_EQ(paneText().toStdString(), reason + kPaneEnd);
    EXPECT_EQ(paneColour(), QColor(Qt::red));
    EXPECT_EQ(touchingRequests(hub()), "");
    EXPECT_TRUE(allButtonsEnabled());
}

TEST_F(SafetyRulesTest, AnImageLargerThanTheFlashIsRefusedWithItsSize) {
    launch();
    std::vector<std::uint8_t> large = readBytes(sampleImagePath());
    large.insert(large.begin(), 256, 0xFF);  // the block stays on a 256-byte step from the end
    const std::string file = writeFile("large.bin", large);
    updateWith(file);
    const std::string reason = file + " is 33024 bytes, larger than the hub's 32768-byte flash";
    EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{reason}));
    EXPECT_EQ(paneText().toStdString(), reason + kPaneEnd);
    EXPECT_EQ(touchingRequests(hub()), "");
    EXPECT_TRUE(allButtonsEnabled());
}

// The station's run at launch says it in the pane only; the button alerts.
TEST_F(SafetyRulesTest, AScalarImageWithUnlistedIdsIsRefusedAtLaunchInThePaneOnly) {
    const std::string file = writeResource(
        "fw.bin",
        withIds(readBytes(VELMORA_TEST_RESOURCES "/images/sample-update.bin"), 0x2FE3, 0x0611, 0x0999));
    launch(WindowSetup().withScalarMode(1).withFwBin("fw.bin"));
    EXPECT_TRUE(dialogs_.alerts.empty());
    EXPECT_TRUE(paneText().toStdString().find("IDs 2FE3:0611 and 2FE3:0999") != std::string::npos);
    EXPECT_TRUE(paneText().endsWith(QString::fromStdString(kPaneEnd))) << paneText().toStdString();
    EXPECT_EQ(touchingRequests(hub()), "");

    window().scalarBox().nsbtnUpdate_Scalar->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    EXPECT_NE(dialogs_.alerts[0].find("add these IDs to config.ini"), std::string::npos);
    EXPECT_EQ(touchingRequests(hub()), "");
}

// With two hubs the field names each, and every command that works on "the" hub
// asks for one to be left attached instead of taking the first the bus lists.
TEST_F(SafetyRulesTest, TwoHubsAreListedAndEveryHubCommandIsRefused) {
    launch(WindowSetup().withScenario("two-hubs"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return hubInfoText().count('\n') == 2; }, kPatienceMs));
    EXPECT_EQ(hubInfoText().toStdString(),
              "Detect Zelo Hub : 2 hubs attached\n1-1  2FE3:0611  flash  0102  000000000001\n1-2  2FE3:0611  "
              "flash  0102  000000000001");
    chooseEasyUpdateImage(sampleImagePath());
    const std::string refusal =
        "2 Zelo Hubs are attached (1-1, 1-2). Leave only the hub to work on attached, "
        "then try again.";
    for (QPushButton* button :
         {window().easyUpdateBox().btnUpdate_EasyUpdate, window().flashBox().btnRead_FwFlash,
          window().flashBox().btnErase_FwFlash, window().scalarBox().nsbtnUpdate_Scalar}) {
        SCOPED_TRACE(button->text().toStdString());
        dialogs_.alerts.clear();
        for (sim::SimulatedHub* each : hubs()) each->clearRequests();
        button->click();
        ASSERT_TRUE(waitForWorkflowEnd());
        EXPECT_EQ(dialogs_.alerts, (std::vector<std::string>{refusal}));
        for (sim::SimulatedHub* each : hubs()) EXPECT_EQ(touchingRequests(*each), "");
    }
}

TEST_F(SafetyRulesTest, LoadUpdateDriverWithNoHubListedLeavesEveryButtonOn) {
    launch(WindowSetup().withNoHubListed());
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(allButtonsEnabled());
    EXPECT_EQ(dialogs_.alerts,
              (std::vector<std::string>{"Driver load failed: the configuration lists no supported hub\n"}));
    EXPECT_TRUE(privileged_.scripts.empty());
}

TEST_F(SafetyRulesTest, LoadUpdateDriverWithNoPrivateFolderSaysWhy) {
    launch();
    environment_->privateFolder.reset();
    window().helpBox().nsbtnLoadDriver_HelpBox->click();
    ASSERT_TRUE(waitForWorkflowEnd());
    EXPECT_TRUE(allButtonsEnabled());
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    EXPECT_NE(dialogs_.alerts[0].find("no private folder"), std::string::npos);
    EXPECT_TRUE(privileged_.scripts.empty());
}

// Both launch detections have ended before the scalar run takes the hub: their
// handshakes come before the run's first reset, as does the run's own open.
TEST_F(SafetyRulesTest, TheLaunchDetectionsEndBeforeTheLaunchScalarRun) {
    launch(WindowSetup().withScenario("rom-code").withFwBin("sample-update.bin"));
    EXPECT_TRUE(paneText().endsWith("Update FW Success\n")) << paneText().toStdString();
    const std::vector<sim::RecordedRequest> requests = hub().requests();
    const auto firstErase = std::find_if(requests.begin(), requests.end(), [](const sim::RecordedRequest& r) {
        return sim::classifyRequest(r.setup) == sim::RequestKind::EraseFlash;
    });
    ASSERT_NE(firstErase, requests.end());
    const auto handshakes = std::count_if(requests.begin(), firstErase, [](const sim::RecordedRequest& r) {
        return sim::classifyRequest(r.setup) == sim::RequestKind::OpenHandshake;
    });
    EXPECT_EQ(handshakes, 3);  // two detections, then the run's open
    EXPECT_TRUE(hubInfoText().startsWith("Detect Zelo Hub : Success\n")) << hubInfoText().toStdString();
}

}  // namespace
}  // namespace velmora::testing
