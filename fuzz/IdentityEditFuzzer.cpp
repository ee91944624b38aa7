// Identity edits as a user or a script makes them, then the save's checks and
// stores, then a fresh parse of the saved bytes: it must show exactly what the page
// showed when it was saved, and edits of the IDs alone must leave the string area's
// bytes as the image had them.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <sstream>

#include "app/Console.h"
#include "editor/DescriptorFields.h"
#include "firmware/FirmwareBuffer.h"
#include "fuzz/FuzzSupport.h"
#include "workflows/FlashPageSave.h"

using velmora::fuzz::check;
using velmora::fuzz::QuietReporter;
namespace image = velmora::image;

namespace {

constexpr int kMostEdits = 4;
constexpr std::size_t kLongestText = 40;

bool isIdField(IdentityField field) {
    return field == IdentityField::Vid || field == IdentityField::Sspid || field == IdentityField::Hspid ||
           field == IdentityField::Version;
}

std::vector<std::uint8_t> stringArea(const FirmwareBuffer& buffer) {
    const auto start = buffer.data.begin() + static_cast<std::ptrdiff_t>(buffer.strings);
    return {start, start + image::kStringsLength};
}

void checkSavedImage(const FirmwareBuffer& saved, const IdentityTexts& shown) {
    FirmwareBuffer reparsed;
    FW_Parse(reparsed, saved.data.data(), static_cast<std::int64_t>(saved.data.size()));
    check(reparsed.loaded && reparsed.block == saved.block, "the saved image lost its block");
    const IdentityTexts again = *UpdateTxt_FwFlash(reparsed);
    check(again.vid == shown.vid && again.sspid == shown.sspid && again.hspid == shown.hspid,
          "saved IDs differ from the page");
    check(again.version == shown.version, "saved version differs from the page");
    check(again.manufacturer == shown.manufacturer && again.product == shown.product &&
              again.serial == shown.serial,
          "saved strings differ from the page");
    check(again.containerId == shown.containerId, "saved container ID differs from the page");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    struct Edit {
        IdentityField field;
        std::string text;
    };
    std::vector<Edit> edits(input.ConsumeIntegralInRange<int>(0, kMostEdits));
    for (Edit& edit : edits) {
        edit.field = static_cast<IdentityField>(input.ConsumeIntegralInRange<int>(0, 7));
        edit.text = input.ConsumeRandomLengthString(kLongestText);
    }
    const bool useSample = input.ConsumeBool();
    const std::vector<std::uint8_t> bytes =
        useSample ? velmora::fuzz::shippedSampleImage() : input.ConsumeRemainingBytes<std::uint8_t>();

    FirmwareBuffer buffer;
    if (!FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size())) || !buffer.hasBlock())
        return 0;
    const std::vector<std::uint8_t> areaBefore = stringArea(buffer);
    velmora::SilentConsole console;
    for (const Edit& edit : edits) editIdentityField(buffer, edit.field, edit.text, console);

    const IdentityTexts shown = *UpdateTxt_FwFlash(buffer);
    QuietReporter reporter;
    std::ostringstream printed;
    if (!velmora::save_FwFlash(buffer, shown, reporter, console, printed)) return 0;
    checkSavedImage(buffer, shown);
    if (std::all_of(edits.begin(), edits.end(), [](const Edit& edit) { return isIdField(edit.field); })) {
        check(stringArea(buffer) == areaBefore, "an ID-only edit rewrote the string area");
    }
    return 0;
}
