#include "editor/DescriptorFields.h"

#include "app/Console.h"
#include "editor/EditorConstants.h"
#include "editor/GenFun.h"
#include "editor/Utf8Text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

using namespace velmora::editor;
namespace image = velmora::image;

namespace {

constexpr int kDigitBits = 4;
constexpr std::size_t kIdBytes = 6;  // VID, SSPID and HSPID at block offsets 2..7

std::string wordText(const FirmwareBuffer& buffer, std::size_t position) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X", buffer.data[position], buffer.data[position + 1]);
    return text;
}

std::string containerIdText(const FirmwareBuffer& buffer) {
    const std::uint8_t* bytes = &buffer.data[buffer.containerID];
    char text[64];
    std::snprintf(text, sizeof text, "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string_view untilNul(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

// Characters other than single ASCII bytes count as digit value 0, like any other
// character that is not a letter or digit.
int digitValue(std::string_view character) {
    return character.size() == 1 ? GF_HexCharToValue(character[0]) : 0;
}

void storeHexWord(FirmwareBuffer& buffer, std::size_t position, std::string_view text) {
    std::vector<std::string_view> characters = utf8Characters(text);
    characters.resize(kIdDigits);  // missing digits read as empty, value 0
    for (std::size_t byte = 0; byte < 2; ++byte) {
        const int high = digitValue(characters[2 * byte]);
        const int low = digitValue(characters[2 * byte + 1]);
        buffer.data[position + byte] = static_cast<std::uint8_t>(((high << kDigitBits) & 0xFF) | low);
    }
}

std::uint8_t* blockByte(FirmwareBuffer& buffer, std::size_t offset) {
    return &buffer.data[*buffer.block + offset];
}

IdentityEditResult noImage(IdentityTexts texts, IdentityField edited) {
    IdentityEditResult result;
    texts.field(edited).clear();
    result.texts = std::move(texts);
    result.alert = std::string(kNoFlashDataAlert);
    return result;
}

bool isLoaded(const FirmwareBuffer& buffer) {
    return buffer.hasBlock();
}

// At most one length alert per edit, the first over-long field in field order.
std::optional<std::string> cutIdsToFourDigits(IdentityTexts& texts) {
    const std::array<std::pair<IdentityField, std::string_view>, 3> fields = {{
        {IdentityField::Vid, kVidLengthAlert},
        {IdentityField::Sspid, kSspidLengthAlert},
        {IdentityField::Hspid, kHspidLengthAlert},
    }};
    for (const auto& [field, alert] : fields) {
        std::string& text = texts.field(field);
        if (utf8Characters(text).size() > kIdDigits) {
            text = firstCharacters(text, kIdDigits);
            return std::string(alert);
        }
    }
    return std::nullopt;
}

std::size_t stringBytes(const IdentityTexts& texts) {
    return texts.manufacturer.size() + texts.product.size() + texts.serial.size();
}

// The edited field loses characters from its end first. Should that not suffice
// (the container ID was edited, or the edited string is already empty), the other
// strings are cut from the serial number backwards, so the writer never refuses.
void cutStringsToLimit(IdentityTexts& texts, IdentityField edited) {
    std::vector<std::string*> order;
    if (edited == IdentityField::Manufacturer || edited == IdentityField::Product ||
        edited == IdentityField::Serial) {
        order.push_back(&texts.field(edited));
    }
    order.insert(order.end(), {&texts.serial, &texts.product, &texts.manufacturer});
    for (std::string* text : order) {
        while (stringBytes(texts) > kMaximumStringBytes && !text->empty()) {
            removeLastCharacter(*text);
        }
    }
}

void setFlag(FirmwareBuffer& buffer, std::size_t offset, std::uint8_t mask) {
    GF_SetMaskValue(blockByte(buffer, offset), mask, 1);
}

}  // namespace

std::string& IdentityTexts::field(IdentityField which) {
    switch (which) {
        case IdentityField::Vid: return vid;
        case IdentityField::Sspid: return sspid;
        case IdentityField::Hspid: return hspid;
        case IdentityField::Version: return version;
        case IdentityField::Manufacturer: return manufacturer;
        case IdentityField::Product: return product;
        case IdentityField::Serial: return serial;
        case IdentityField::ContainerId: break;
    }
    return containerId;
}

std::optional<IdentityTexts> UpdateTxt_FwFlash(const FirmwareBuffer& buffer) {
    if (!isLoaded(buffer)) {
        return std::nullopt;
    }
    IdentityTexts texts;
    texts.vid = wordText(buffer, buffer.vid);
    texts.sspid = wordText(buffer, buffer.sspid);
    texts.hspid = wordText(buffer, buffer.hspid);
    if (buffer.version) {
        texts.version = wordText(buffer, *buffer.version);
    }
    texts.manufacturer = buffer.manufacturer;
    texts.product = buffer.product;
    texts.serial = buffer.serial;
    texts.containerId = containerIdText(buffer);
    return texts;
}

bool FW_SetStrings(FirmwareBuffer& buffer, std::string_view manufacturer, std::string_view product,
                   std::string_view serial) {
    const std::array<std::string_view, 3> strings = {untilNul(manufacturer), untilNul(product),
                                                     untilNul(serial)};
    std::size_t total = 0;
    for (std::string_view text : strings) {
        total += text.size();
    }
    if (!isLoaded(buffer) || total > kMaximumStringBytes) {
        return false;
    }
    std::uint8_t* area = &buffer.data[buffer.strings];
    std::fill_n(area, image::kStringsLength, 0);
    std::size_t offset = 0;
    for (std::string_view text : strings) {
        area[offset] = static_cast<std::uint8_t>(text.size() + kStringEntryHeadBytes);
        area[offset + 1] = kStringDescriptorType;
        std::copy(text.begin(), text.end(), area + offset + kStringEntryHeadBytes);
        offset += text.size() + kStringEntryHeadBytes;
    }
    buffer.manufacturer = strings[0];
    buffer.product = strings[1];
    buffer.serial = strings[2];
    return true;
}

bool FW_SetSerialNumber(FirmwareBuffer& buffer, std::string_view serial) {
    if (!isLoaded(buffer)) return false;
    if (!FW_StringsDiffer(buffer, buffer.manufacturer, buffer.product, serial)) return true;
    // The texts are copied first: the writer replaces them while it stores.
    const std::string manufacturer = buffer.manufacturer;
    const std::string product = buffer.product;
    if (!FW_SetStrings(buffer, manufacturer, product, serial)) return false;
    setFlag(buffer, image::kStringEditFlagsOffset, kSerialFlagMask);
    return true;
}

bool FW_SerialEdited(const FirmwareBuffer& buffer) {
    return isLoaded(buffer) && (buffer.blockByte(image::kStringEditFlagsOffset) & kSerialFlagMask) != 0;
}

bool FW_StringsDiffer(const FirmwareBuffer& buffer, std::string_view manufacturer, std::string_view product,
                      std::string_view serial) {
    return untilNul(manufacturer) != buffer.manufacturer || untilNul(product) != buffer.product ||
           untilNul(serial) != buffer.serial;
}

bool FW_SetContainerID(FirmwareBuffer& buffer, std::string_view text) {
    if (!isLoaded(buffer)) {
        return false;
    }
    std::string digits;
    for (char character : text) {
        if (digits.size() < kContainerIdDigits && GF_IsAlnum(character)) {
            digits += character;
        }
    }
    digits.resize(kContainerIdDigits, '\0');  // missing digits count as 0
    for (std::size_t byte = 0; byte < image::kContainerIdLength; ++byte) {
        const int value =
            (GF_HexCharToValue(digits[2 * byte]) << kDigitBits) + GF_HexCharToValue(digits[2 * byte + 1]);
        buffer.data[buffer.containerID + byte] = static_cast<std::uint8_t>(value & 0xFF);
    }
    buffer.containerIDText = firstBytes(text, kContainerIdTextLimit);
    return true;
}

bool FW_SetHexWord(FirmwareBuffer& buffer, std::size_t position, std::string_view text) {
    if (!isLoaded(buffer) || position + 1 >= buffer.data.size()) {
        return false;
    }
    storeHexWord(buffer, position, text);
    return true;
}

IdentityEditResult applyIdEdit(FirmwareBuffer& buffer, IdentityTexts texts, IdentityField edited,
                               velmora::Console& console) {
    if (!isLoaded(buffer)) {
        return noImage(std::move(texts), edited);
    }
    console.line("Old VID : " + wordText(buffer, buffer.vid));
    console.line("Old SSPID : " + wordText(buffer, buffer.sspid));
    console.line("Old HSPID : " + wordText(buffer, buffer.hspid));
    console.line("VID: " + texts.vid + "    SSPID1: " + texts.sspid + "    HSPID1: " + texts.hspid + "\n");
    IdentityEditResult result;
    result.stored = true;
    result.alert = cutIdsToFourDigits(texts);
    const std::uint8_t* ids = blockByte(buffer, image::kVidOffset);
    const std::vector<std::uint8_t> before(ids, ids + kIdBytes);
    storeHexWord(buffer, buffer.vid, texts.vid);
    storeHexWord(buffer, buffer.sspid, texts.sspid);
    storeHexWord(buffer, buffer.hspid, texts.hspid);
    if (!std::equal(before.begin(), before.end(), ids)) {
        console.line("Not Same");
        setFlag(buffer, image::kIdEditFlagOffset, kIdEditFlagMask);
        result.flagSet = true;
    }
    result.texts = std::move(texts);
    result.highlightBegin = kIdRangeBegin;
    result.highlightEnd = kIdRangeEnd;
    return result;
}

IdentityEditResult applyStringsEdit(FirmwareBuffer& buffer, IdentityTexts texts, IdentityField edited,
                                    velmora::Console& console) {
    if (!isLoaded(buffer)) {
        return noImage(std::move(texts), edited);
    }
    console.line(texts.manufacturer + "\n" + texts.product + "\n" + texts.serial + "\n" + texts.containerId +
                 "\n");
    cutStringsToLimit(texts, edited);
    const std::array<std::string, 4> before = {buffer.manufacturer, buffer.product, buffer.serial,
                                               buffer.containerIDText};
    if (FW_StringsDiffer(buffer, texts.manufacturer, texts.product, texts.serial)) {
        FW_SetStrings(buffer, texts.manufacturer, texts.product, texts.serial);
    }
    FW_SetContainerID(buffer, texts.containerId);
    const std::array<std::string*, 4> after = {&buffer.manufacturer, &buffer.product, &buffer.serial,
                                               &buffer.containerIDText};
    const std::array<std::pair<std::string_view, std::uint8_t>, 4> flags = {{
        {"Change-Manu", kManufacturerFlagMask},
        {"Change-Pro", kProductFlagMask},
        {"Change-SN", kSerialFlagMask},
        {"Change-ContID", kContainerIdFlagMask},
    }};
    IdentityEditResult result;
    result.stored = true;
    for (std::size_t field = 0; field < flags.size(); ++field) {
        if (*after[field] != before[field]) {
            console.line(flags[field].first);
            setFlag(buffer, image::kStringEditFlagsOffset, flags[field].second);
            result.flagSet = true;
        }
    }
    result.texts = std::move(texts);
    result.highlightBegin = kStringsRangeBegin;
    result.highlightEnd = kStringsRangeEnd;
    return result;
}

IdentityEditResult editIdentityField(FirmwareBuffer& buffer, IdentityField field, std::string_view text,
                                     velmora::Console& console) {
    IdentityTexts texts = UpdateTxt_FwFlash(buffer).value_or(IdentityTexts{});
    texts.field(field) = std::string(text);
    switch (field) {
        case IdentityField::Vid:
        case IdentityField::Sspid:
        case IdentityField::Hspid: return applyIdEdit(buffer, std::move(texts), field, console);
        case IdentityField::Version: break;
        case IdentityField::Manufacturer:
        case IdentityField::Product:
        case IdentityField::Serial:
        case IdentityField::ContainerId: return applyStringsEdit(buffer, std::move(texts), field, console);
    }
    IdentityEditResult result;
    result.texts = std::move(texts);
    return result;
}
