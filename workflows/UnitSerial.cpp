#include "workflows/UnitSerial.h"

#include "app/PrintableText.h"
#include "app/TextFormat.h"
#include "editor/DescriptorFields.h"
#include "workflows/SerialNumberSource.h"

namespace velmora {

const char* serialStateName(SerialState state) {
    switch (state) {
        case SerialState::Issued: return "issued";
        case SerialState::Used: return "used";
        case SerialState::Void: return "void";
    }
    return "void";
}

std::string SerialFormat::serialOf(std::uint64_t number) const {
    std::string text = std::to_string(number);
    if (text.size() < static_cast<std::size_t>(digits)) text.insert(0, digits - text.size(), '0');
    return prefix + text;
}

std::uint64_t SerialFormat::lastNumber() const {
    std::uint64_t last = 0;
    for (int digit = 0; digit < digits; ++digit) last = last * 10 + 9;
    return last;
}

bool serialFitsImage(const FirmwareBuffer& image, std::size_t serialBytes) {
    return image.manufacturer.size() + image.product.size() + serialBytes <= image::kMaximumStringBytes;
}

std::string serialTooLong(const FirmwareBuffer& image, std::size_t serialBytes) {
    return formatText(
        "a serial number of %zu bytes does not fit the image: its manufacturer '%s' and product '%s' take "
        "%zu of the %zu bytes the three strings share",
        serialBytes, printableText(image.manufacturer).c_str(), printableText(image.product).c_str(),
        image.manufacturer.size() + image.product.size(), image::kMaximumStringBytes);
}

std::optional<FirmwareBuffer> imageWithSerial(const FirmwareBuffer& image, const std::string& serial) {
    FirmwareBuffer unit = image;
    if (!FW_SetSerialNumber(unit, serial)) return std::nullopt;
    return unit;
}

}  // namespace velmora
