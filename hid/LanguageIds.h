// The language-ID list that a device returns for string index 0, read from a
// string request's buffer that was filled with 0xFFFF words beforehand.
#pragma once

#include <array>
#include <cstddef>

namespace quorvel::hid {

// String requests offer 508 bytes: 254 UTF-16 units.
inline constexpr std::size_t kStringUnits = 254;
using TStringBuffer = std::array<char16_t, kStringUnits>;

// Words that the platform did not write keep this value.
inline constexpr char16_t kUnwrittenWord = 0xFFFF;

// The number of language IDs: the words up to the last one the platform wrote,
// less a terminating NUL; 0 when it wrote nothing.
inline std::size_t LanguageCount(const TStringBuffer& buffer) {
  for (std::size_t i = buffer.size(); i-- > 0;) {
    if (buffer[i] != kUnwrittenWord) {
      return buffer[i] == 0 ? i : i + 1;
    }
  }
  return 0;
}

}  // namespace quorvel::hid
