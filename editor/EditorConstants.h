#pragma once
// Names, texts and limits of the configuration editor: the IC definition file's
// section and key names, the property table's pages and columns, the identity-field
// limits and flags, and the texts the editor hands to the window.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "firmware/ImageLayout.h"

namespace velmora::editor {

// IC definition files
inline constexpr std::string_view kDefinitionExtension = ".INI";  // compared case-sensitively
inline constexpr std::string_view kSectionPrefix = "HubFF_USB_";
inline constexpr int kLastSectionIndex = 0xFE;  // FF is never a property section
inline constexpr int kOptionCount = 16;
inline constexpr std::uint32_t kBlockOffsetLimit = 256;  // offsets address one 256-byte block

// Property table
inline constexpr std::array<std::string_view, 6> kPageNames = {
    "SSC", "DSP OCP/U1/U2", "System", "USP PHY", "DSP Setting", "DSP PHY",
};
inline constexpr std::string_view kPropertyColumn = "property";
inline constexpr std::string_view kCurrentValueColumn = "curValue";
inline constexpr std::string_view kEmptyValue = "Empty Value";
inline constexpr std::string_view kConstValue = "Const Value";
// Shown in the not-editable alert when no property describes the enabling field.
inline constexpr std::string_view kUnnamedEnablingField = "the enabling field";

// Identity fields and their edit flags in the configuration block
inline constexpr std::size_t kIdDigits = 4;
inline constexpr std::size_t kMaximumStringBytes = image::kMaximumStringBytes;
inline constexpr std::size_t kContainerIdDigits = 32;
inline constexpr std::size_t kContainerIdTextLimit = 63;
inline constexpr std::uint8_t kStringDescriptorType = image::kStringDescriptorType;
inline constexpr std::size_t kStringEntryHeadBytes = image::kStringEntryHeadBytes;
inline constexpr std::uint8_t kIdEditFlagMask = 0x01;
inline constexpr std::uint8_t kManufacturerFlagMask = 0x08;
inline constexpr std::uint8_t kProductFlagMask = 0x04;
inline constexpr std::uint8_t kSerialFlagMask = 0x02;
inline constexpr std::uint8_t kContainerIdFlagMask = 0x01;

// Binary view ranges painted after each kind of change: [begin, end) block offsets
inline constexpr std::uint32_t kIdRangeBegin = 2;
inline constexpr std::uint32_t kIdRangeEnd = 8;
inline constexpr std::uint32_t kStringsRangeBegin = 43;
inline constexpr std::uint32_t kStringsRangeEnd = 94;

// Alert texts
inline constexpr std::string_view kNoFlashDataAlert = "No Flash Data";
inline constexpr std::string_view kVidLengthAlert = "VID length should be 4.";
inline constexpr std::string_view kSspidLengthAlert = "SSPID length should be 4.";
inline constexpr std::string_view kHspidLengthAlert = "HSPID length should be 4.";

}  // namespace velmora::editor
