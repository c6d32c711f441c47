// The values every front reads the same way: numbers as the tool's grammar writes them,
// binary digits, and words in either case. Text in, values out; no board involved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::relay {

// Accepts leading blanks (spaces only), at most one sign, then either decimal
// digits within the 32-bit signed range or a hexadecimal marker ("$", "x",
// "X", "0x", "0X") and hexadecimal digits fitting in 32 bits; hexadecimal
// values from 0x80000000 up are negative. Nothing may follow the digits.
// Value is left untouched when the text is not a number.
bool TryStrToInt(std::u16string_view Text, std::int32_t& Value);

// A number from 0 to 255 in any form TryStrToInt reads; no value otherwise.
std::optional<std::uint8_t> NumStrToByte(std::u16string_view Text);
// One to eight binary digits, the last one bit 0; no value otherwise.
std::optional<std::uint8_t> BinStrToByte(std::u16string_view Text);

// The letters a to z as A to Z; every other character unchanged. Keywords and command
// words are read in either case, and nothing else is folded.
std::u16string UpperCaseAscii(std::u16string_view Text);
std::string UpperCaseAscii(std::string_view Text);
bool EqualsIgnoringAsciiCase(std::u16string_view A, std::u16string_view B);
bool StartsWithIgnoringAsciiCase(std::u16string_view Text, std::u16string_view Prefix);

}  // namespace quorvel::relay
