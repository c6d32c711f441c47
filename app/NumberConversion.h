// Text to integer, as the argument grammar reads numbers, and back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::app {

// Accepts leading blanks (spaces only), at most one sign, then either decimal
// digits within the 32-bit signed range or a hexadecimal marker ("$", "x",
// "X", "0x", "0X") and hexadecimal digits fitting in 32 bits; hexadecimal
// values from 0x80000000 up are negative. Nothing may follow the digits.
// Value is left untouched when the text is not a number.
bool TryStrToInt(std::u16string_view Text, std::int32_t& Value);

// Decimal text, as the messages show board numbers.
std::u16string IntToStr(std::int32_t Value);

// Two upper-case hexadecimal digits, as a relay state is shown.
std::u16string ByteToHex(std::uint8_t Value);

}  // namespace quorvel::app
