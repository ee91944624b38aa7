#pragma once
// Byte helpers shared by the property table and the identity-field editors. A
// masked field is the bits of one byte under an 8-bit mask, shifted down by the
// position of the mask's lowest set bit.
#include <cstdint>

// Position of the lowest set bit, 0..7; 8 for the mask 0.
std::uint8_t GF_MaskShift(std::uint8_t mask);
std::uint8_t GF_GetMaskValue(const std::uint8_t* byte, std::uint8_t mask);
// Stores value under the mask; bits of value that do not fit the mask are dropped
// and the byte's other bits are kept.
void GF_SetMaskValue(std::uint8_t* byte, std::uint8_t mask, std::uint8_t value);
// Positions of the highest and lowest set bits; both 255 for the mask 0. Both out
// arguments are required: a missing one stops the program, naming it.
void GF_Mask2Bits(std::uint8_t mask, std::uint8_t* high, std::uint8_t* low);
// Digit value of a character: 0-9, then a-z and A-Z as 10-35, anything else 0.
// Letters beyond f are accepted on purpose: typed text is never rejected.
int GF_HexCharToValue(char character);
// ASCII letters and digits only.
bool GF_IsAlnum(char character);
