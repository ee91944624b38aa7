// The one decision on an image file, for each use: what is refused, why, and what
// a scalar run is left to find out for itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/TextAppend.h"
#include "tests/support/SampleImage.h"
#include "tests/support/ScratchFolder.h"
#include "workflows/ImageChecks.h"

namespace velmora::testing {
namespace {

class ImageAdmissionTest : public ::testing::Test {
protected:
    void SetUp() override {
        sample_ = scratch_.write("sample.bin", makeShippedSampleImage());
        FirmwareBuffer image;
        ASSERT_TRUE(FW_LoadFile(image, sample_));
        const ImageIds ids = imageIdsOf(image);
        listing_.set(0, ids.vid, ids.sspid, ids.hspid);
    }

    ScratchFolder scratch_{"velmora-admission"};
    std::string sample_;
    SupportedDeviceTable listing_;  // lists the sample image's IDs
    SupportedDeviceTable empty_;
};

TEST_F(ImageAdmissionTest, EachRuleRefusesWithItsReasonForAnImageToWrite) {
    struct Case {
        std::string path;
        ImageRefusal refusal;
        std::string reason;
    };
    std::vector<std::uint8_t> large = makeImage(33024, 0x7F00);
    // "<before>'<path of name>'<after>", appended piece by piece (see TextAppend.h).
    const auto quoted = [this](const char* before, const char* name, const char* after) {
        std::string text;
        return appendText(text, {before, "'", scratch_.path(name), "'", after});
    };
    const std::vector<Case> cases = {
        {scratch_.path("missing.bin"), ImageRefusal::Unreadable,
         quoted("cannot read ", "missing.bin", ": No such file or directory")},
        {scratch_.write("empty.bin", {}), ImageRefusal::Empty, quoted("", "empty.bin", " is empty")},
        {scratch_.write("short.bin", std::vector<std::uint8_t>(100)), ImageRefusal::TooShort,
         quoted("", "short.bin", " is too short for a firmware image (100 bytes, at least 256)")},
        {scratch_.write("large.bin", large), ImageRefusal::LargerThanFlash,
         scratch_.path("large.bin") + " is 33024 bytes, larger than the hub's 32768-byte flash"},
        {scratch_.write("blockless.bin", std::vector<std::uint8_t>(300)), ImageRefusal::NoConfigurationBlock,
         quoted("", "blockless.bin", " holds no configuration block: Firmware format error")},
    };
    for (const Case& test : cases) {
        const ImageAdmission admission = admitImage(test.path, listing_, ImageUse::Update);
        EXPECT_EQ(admission.refusal, test.refusal) << test.path;
        EXPECT_EQ(admission.reason, test.reason);
        EXPECT_FALSE(admission.admitted());
    }
}

TEST_F(ImageAdmissionTest, IdsTheTableDoesNotListAreRefusedUnlessAllowed) {
    const ImageAdmission refused = admitImage(sample_, empty_, ImageUse::Update);
    EXPECT_EQ(refused.refusal, ImageRefusal::UnlistedIds);
    EXPECT_NE(refused.reason.find("which the configuration does not list"), std::string::npos)
        << refused.reason;
    EXPECT_EQ(admitImage(sample_, empty_, ImageUse::Scalar).refusal, ImageRefusal::UnlistedIds);

    EXPECT_TRUE(admitImage(sample_, empty_, ImageUse::Update, true).admitted());
    EXPECT_TRUE(admitImage(sample_, empty_, ImageUse::FlashPage).admitted());
    const ImageAdmission admitted = admitImage(sample_, listing_, ImageUse::Update);
    ASSERT_TRUE(admitted.admitted()) << admitted.reason;
    EXPECT_TRUE(admitted.image.loaded);
}

TEST_F(ImageAdmissionTest, AnImageToShowMayBeLargerThanTheFlashButNotThanAnyImage) {
    EXPECT_TRUE(admitImage(scratch_.write("large.bin", makeImage(33024, 0x7F00)), empty_, ImageUse::FlashPage)
                    .admitted());
    const std::string huge = scratch_.path("huge.bin");
    scratch_.write("huge.bin", {});
    std::filesystem::resize_file(huge, kLargestImageFileBytes + 1);
    EXPECT_EQ(admitImage(huge, empty_, ImageUse::FlashPage).refusal, ImageRefusal::TooLargeForFiles);
    EXPECT_EQ(admitImage(huge, empty_, ImageUse::Update).refusal, ImageRefusal::LargerThanFlash);
}

// The scalar run loads its image itself and says "Wrong firmware file" when it
// holds none: only the flash size and the IDs are decided beforehand.
TEST_F(ImageAdmissionTest, AScalarImageThatIsNoImageIsLeftToTheRun) {
    for (const std::string& path : {scratch_.path("missing.bin"), scratch_.write("empty.bin", {}),
                                    scratch_.write("blockless.bin", std::vector<std::uint8_t>(300))}) {
        const ImageAdmission admission = admitImage(path, listing_, ImageUse::Scalar);
        EXPECT_TRUE(admission.admitted()) << path;
        EXPECT_FALSE(admission.image.loaded);
    }
    EXPECT_EQ(
        admitImage(scratch_.write("large.bin", makeImage(33024, 0x7F00)), listing_, ImageUse::Scalar).refusal,
        ImageRefusal::LargerThanFlash);
}

}  // namespace
}  // namespace velmora::testing
