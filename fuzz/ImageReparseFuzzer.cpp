// A buffer reused for a second image must hold exactly what a fresh buffer holds
// after parsing the same bytes: nothing of the first image may survive the parse.
#include <fuzzer/FuzzedDataProvider.h>

#include "editor/DescriptorFields.h"
#include "firmware/FirmwareBuffer.h"
#include "fuzz/FuzzSupport.h"

using velmora::fuzz::check;

namespace {

bool parse(FirmwareBuffer& buffer, const std::vector<std::uint8_t>& bytes) {
    return FW_Parse(buffer, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void checkSame(const FirmwareBuffer& reused, const FirmwareBuffer& fresh) {
    check(reused.loaded == fresh.loaded, "loaded differs after reuse");
    check(reused.data == fresh.data && reused.size == fresh.size, "image bytes differ after reuse");
    check(reused.block == fresh.block && reused.version == fresh.version, "positions differ after reuse");
    check(reused.strings == fresh.strings && reused.containerID == fresh.containerID,
          "field positions differ after reuse");
    check(reused.vid == fresh.vid && reused.sspid == fresh.sspid && reused.hspid == fresh.hspid,
          "ID positions differ after reuse");
    check(reused.stringsLength == fresh.stringsLength && reused.containerIDLength == fresh.containerIDLength,
          "lengths differ after reuse");
    check(reused.manufacturer == fresh.manufacturer, "manufacturer text survives from the previous image");
    check(reused.product == fresh.product, "product text survives from the previous image");
    check(reused.serial == fresh.serial, "serial text survives from the previous image");
    check(reused.containerIDText == fresh.containerIDText,
          "container ID text survives from the previous image");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto firstSize = input.ConsumeIntegralInRange<std::size_t>(0, input.remaining_bytes());
    const std::vector<std::uint8_t> first = input.ConsumeBytes<std::uint8_t>(firstSize);
    const std::vector<std::uint8_t> second = input.ConsumeRemainingBytes<std::uint8_t>();

    FirmwareBuffer reused;
    parse(reused, first);
    const bool reusedResult = parse(reused, second);
    FirmwareBuffer fresh;
    const bool freshResult = parse(fresh, second);
    check(reusedResult == freshResult, "parse result differs after reuse");
    checkSame(reused, fresh);
    check(UpdateTxt_FwFlash(reused).has_value() == UpdateTxt_FwFlash(fresh).has_value(), "page differs");
    return 0;
}
