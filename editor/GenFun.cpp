#include "editor/GenFun.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kBitsPerByte = 8;
constexpr std::uint8_t kNoBit = 255;
constexpr int kFirstLetterValue = 10;

// A missing out argument is a programming error: stop in every build, naming it.
void requireOutArgument(const std::uint8_t* argument, const char* name) {
    if (argument == nullptr) {
        std::fprintf(stderr, "GF_Mask2Bits: Assertion failed: %s\n", name);
        std::abort();
    }
}
}  // namespace

std::uint8_t GF_MaskShift(std::uint8_t mask) {
    for (int bit = 0; bit < kBitsPerByte; ++bit) {
        if (mask & (1u << bit)) {
            return static_cast<std::uint8_t>(bit);
        }
    }
    return kBitsPerByte;
}

std::uint8_t GF_GetMaskValue(const std::uint8_t* byte, std::uint8_t mask) {
    return static_cast<std::uint8_t>((*byte & mask) >> GF_MaskShift(mask));
}

void GF_SetMaskValue(std::uint8_t* byte, std::uint8_t mask, std::uint8_t value) {
    const unsigned shifted = static_cast<unsigned>(value) << GF_MaskShift(mask);
    *byte = static_cast<std::uint8_t>((shifted & mask) | (*byte & ~static_cast<unsigned>(mask)));
}

void GF_Mask2Bits(std::uint8_t mask, std::uint8_t* high, std::uint8_t* low) {
    requireOutArgument(high, "high");
    requireOutArgument(low, "low");
    *high = kNoBit;
    *low = kNoBit;
    for (int bit = 0; bit < kBitsPerByte; ++bit) {
        if (mask & (1u << bit)) {
            if (*low == kNoBit) {
                *low = static_cast<std::uint8_t>(bit);
            }
            *high = static_cast<std::uint8_t>(bit);
        }
    }
}

int GF_HexCharToValue(char character) {
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'a' && character <= 'z') {
        return character - 'a' + kFirstLetterValue;
    }
    if (character >= 'A' && character <= 'Z') {
        return character - 'A' + kFirstLetterValue;
    }
    return 0;
}

bool GF_IsAlnum(char character) {
    return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'z') ||
           (character >= 'A' && character <= 'Z');
}
