// Any bytes as a firmware image: the parse, the eight identity texts the flash page
// shows, and the hex view of the block with a highlight range.
#include "app/Console.h"
#include "editor/BinaryView.h"
#include "editor/DescriptorFields.h"
#include "firmware/FirmwareBuffer.h"
#include "fuzz/FuzzSupport.h"

using velmora::fuzz::check;
namespace image = velmora::image;

namespace {

constexpr std::size_t kContainerIdTextLength = 38;  // braces, 32 digits, four dashes
constexpr std::uint32_t kPastTheBlock = 45;

void checkParsed(const FirmwareBuffer& buffer) {
    check(buffer.size == static_cast<std::int32_t>(buffer.data.size()), "size and data disagree");
    if (!buffer.loaded) return;
    check(buffer.hasBlock(), "a loaded image without a whole block");
    check((buffer.data.size() - *buffer.block) % image::kBlockBytes == 0, "block off the grid");
    check(buffer.manufacturer.size() + buffer.product.size() + buffer.serial.size() <=
              image::kStringsLength - image::kStringEntryHeadBytes,
          "strings longer than their area");
    check(buffer.containerIDText.size() == kContainerIdTextLength, "container ID text");
}

void checkTexts(const FirmwareBuffer& buffer) {
    const std::optional<IdentityTexts> texts = UpdateTxt_FwFlash(buffer);
    check(texts.has_value() == buffer.hasBlock(), "texts without an image");
    if (!texts) return;
    check(texts->vid.size() == 4 && texts->sspid.size() == 4 && texts->hspid.size() == 4, "ID texts");
    check(texts->version.empty() == !buffer.version, "version text");
    check(texts->manufacturer == buffer.manufacturer && texts->serial == buffer.serial, "string texts");
}

void checkBinaryView(const FirmwareBuffer& buffer, std::uint32_t begin, std::uint32_t end) {
    velmora::SilentConsole console;
    const auto view = velmora::editor::ShowBinary(buffer, begin, end, console);
    check(view.has_value() == buffer.hasBlock(), "hex view without an image");
    if (!view) return;
    check(view->highlightStart + view->highlightLength <= view->text.size(), "highlight past the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The whole input is the image, so shipped images are seeds as they are; the
    // highlight range comes from its last two bytes, reaching past the block's end.
    const std::uint32_t begin = size > 0 ? data[size - 1] : 0;
    const std::uint32_t end = size > 1 ? data[size - 2] + kPastTheBlock : 0;

    FirmwareBuffer buffer;
    const bool parsed = FW_Parse(buffer, data, static_cast<std::int64_t>(size));
    check(parsed == buffer.loaded, "result and loaded flag disagree");
    checkParsed(buffer);
    checkTexts(buffer);
    checkBinaryView(buffer, begin, end);
    return 0;
}
