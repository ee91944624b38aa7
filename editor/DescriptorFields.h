#pragma once
// The identity an image gives the hub, as the eight texts of the flash page, and the
// writers and edit rules that store typed texts back into the configuration block.
// Each edit returns what the fields should show and the alert to raise, so the
// window shows them and the command line prints them.
#include "firmware/FirmwareBuffer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {
class Console;
}

enum class IdentityField { Vid, Sspid, Hspid, Version, Manufacturer, Product, Serial, ContainerId };

struct IdentityTexts {
    std::string vid;
    std::string sspid;
    std::string hspid;
    std::string version;  // empty when the image has no room for a version before its block
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string containerId;

    std::string& field(IdentityField which);
};

struct IdentityEditResult {
    bool stored = false;  // false: no image loaded, nothing stored
    IdentityTexts texts;  // what the fields hold after the edit (cut back or emptied)
    std::optional<std::string> alert;
    bool flagSet = false;  // an edit flag was set because stored content changed
    std::uint32_t highlightBegin = 0;
    std::uint32_t highlightEnd = 0;
};

// The eight field texts of a loaded image; nothing when no image is loaded.
std::optional<IdentityTexts> UpdateTxt_FwFlash(const FirmwareBuffer& buffer);

// Rewrites the string descriptor area with the three strings (each up to its first
// NUL) and copies them into the buffer's texts. Strings over 29 bytes together, or
// no image, are refused with false and the area is left as it was.
bool FW_SetStrings(FirmwareBuffer& buffer, std::string_view manufacturer, std::string_view product,
                   std::string_view serial);
// The serial number of a production unit: the image's manufacturer and product
// kept, the serial set as the identity editor stores a typed one (the string area
// rewritten, the serial's edit flag set when it changed). Refused with false, the
// image unchanged, when the three strings would not fit the area together.
bool FW_SetSerialNumber(FirmwareBuffer& buffer, std::string_view serial);
// Whether the image tells the hub to take its serial number from the block.
bool FW_SerialEdited(const FirmwareBuffer& buffer);
// True when the three strings (each up to its first NUL) differ from those the image
// holds. The string area is rewritten only then, so bytes the user did not edit (an
// area this program cannot read among them) stay as the image had them.
bool FW_StringsDiffer(const FirmwareBuffer& buffer, std::string_view manufacturer, std::string_view product,
                      std::string_view serial);
// Stores the container ID from the first 32 letters and digits of the text and keeps
// the text (cut to 63 bytes) as containerIDText. False only when no image is loaded.
bool FW_SetContainerID(FirmwareBuffer& buffer, std::string_view text);

// Stores a two-byte field from a hex text at an image position: characters 1-2 give
// the first byte, 3-4 the second, missing ones count as 0 (as the save does with
// the four hex fields). False when no image is loaded or the position is outside it.
bool FW_SetHexWord(FirmwareBuffer& buffer, std::size_t position, std::string_view text);

// The VID, SSPID or HSPID field changed: texts holds all fields as they now read.
IdentityEditResult applyIdEdit(FirmwareBuffer& buffer, IdentityTexts texts, IdentityField edited,
                               velmora::Console& console);
// A string or the container ID field changed.
IdentityEditResult applyStringsEdit(FirmwareBuffer& buffer, IdentityTexts texts, IdentityField edited,
                                    velmora::Console& console);
// One field set to text, the others as the image holds them, through the edit rules
// above: for callers without a window. The version cannot be edited: nothing is
// stored and no alert is given.
IdentityEditResult editIdentityField(FirmwareBuffer& buffer, IdentityField field, std::string_view text,
                                     velmora::Console& console);
