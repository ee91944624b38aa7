#pragma once
// The hub's status block as a value. The 32 bytes the hub answers to the status
// request are parsed here and nowhere else; the simulated hub builds its answer
// here too, so the byte positions live in this one file and its .cpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

namespace vendor {
// The status block's layout. Only the parser and the builder below use the
// positions; everything else takes a HubStatus.
inline constexpr std::uint16_t kStatusBlockLength = 32;
inline constexpr std::size_t kStatusVersionHigh = 10;
inline constexpr std::size_t kStatusVersionLow = 11;
inline constexpr std::size_t kStatusWaitSelector = 13;
inline constexpr std::size_t kStatusFlags = 15;
inline constexpr std::uint8_t kStatusFlashCodeFlag = 0x02;
}  // namespace vendor

using StatusBlock = std::array<std::uint8_t, vendor::kStatusBlockLength>;

struct HubStatus {
    // In flash code the version of the firmware it runs; in ROM code the ROM's own.
    std::uint16_t firmwareVersion = 0;
    bool flashCode = false;  // false: the hub runs its ROM code
    // 1 makes the wait after a reset to ROM code poll every second instead of two.
    std::uint8_t waitSelector = 0;

    // The firmware the hub runs: none in ROM code, where no firmware runs and the
    // version field names the ROM. Every report of "the version a hub runs" (the
    // station, update --all, the history) judges a hub by this one rule.
    std::optional<std::uint16_t> runningVersion() const;

    bool operator==(const HubStatus&) const = default;
};

HubStatus parseHubStatus(const StatusBlock& block);
// The block a hub with this status answers (the simulated hub's).
StatusBlock statusBlockOf(const HubStatus& status);

// None when the status could not be read.
std::optional<std::uint16_t> runningVersion(const std::optional<HubStatus>& status);

// A firmware version as every text outside the hub info field shows it: four
// lower-case hexadecimal digits.
std::string hubVersionText(std::uint16_t version);
// The version a hub runs, in one word: its hubVersionText, kRomCodeVersionText in
// ROM code, kUnreadVersionText when no status was read.
std::string runningVersionText(const std::optional<HubStatus>& status);
inline constexpr const char* kRomCodeVersionText = "rom";
inline constexpr const char* kUnreadVersionText = "----";

}  // namespace velmora
