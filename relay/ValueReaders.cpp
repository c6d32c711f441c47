#include "relay/ValueReaders.h"

#include <cstddef>

namespace quorvel::relay {
namespace {

int DigitValue(char16_t c, int radix) {
  int value = -1;
  if (c >= u'0' && c <= u'9') {
    value = c - u'0';
  } else if (c >= u'a' && c <= u'f') {
    value = c - u'a' + 10;
  } else if (c >= u'A' && c <= u'F') {
    value = c - u'A' + 10;
  }
  return value < radix ? value : -1;
}

template <typename Char>
std::basic_string<Char> Upper(std::basic_string_view<Char> text) {
  std::basic_string<Char> upper(text);
  for (Char& c : upper) {
    if (c >= Char('a') && c <= Char('z')) {
      c = static_cast<Char>(c - Char('a') + Char('A'));
    }
  }
  return upper;
}

}  // namespace

bool TryStrToInt(std::u16string_view Text, std::int32_t& Value) {
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == u' ') {
    ++i;
  }
  bool negative = false;
  if (i < Text.size() && (Text[i] == u'+' || Text[i] == u'-')) {
    negative = Text[i] == u'-';
    ++i;
  }
  int radix = 10;
  if (i < Text.size() && (Text[i] == u'$' || Text[i] == u'x' || Text[i] == u'X')) {
    radix = 16;
    ++i;
  } else if (i + 1 < Text.size() && Text[i] == u'0' &&
             (Text[i + 1] == u'x' || Text[i + 1] == u'X')) {
    radix = 16;
    i += 2;
  }
  if (i == Text.size()) {
    return false;  // no digits at all
  }

  // Decimal allows one more on the negative side; hexadecimal any 32-bit pattern.
  const std::uint64_t limit = radix == 16 ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  std::uint64_t magnitude = 0;
  for (; i < Text.size(); ++i) {
    const int digit = DigitValue(Text[i], radix);
    if (digit < 0) {
      return false;
    }
    magnitude = magnitude * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(digit);
    if (magnitude > limit) {
      return false;
    }
  }

  // Two's complement throughout: 0x80000000 reads as the lowest integer, and
  // negating it keeps that pattern.
  auto bits = static_cast<std::uint32_t>(magnitude);
  if (negative) {
    bits = 0u - bits;
  }
  Value = static_cast<std::int32_t>(bits);
  return true;
}

std::optional<std::uint8_t> NumStrToByte(std::u16string_view Text) {
  std::int32_t value = 0;
  if (!TryStrToInt(Text, value) || value < 0 || value > 0xFF) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

std::optional<std::uint8_t> BinStrToByte(std::u16string_view Text) {
  if (Text.empty() || Text.size() > 8) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char16_t c : Text) {
    if (c != u'0' && c != u'1') {
      return std::nullopt;
    }
    value = (value << 1) | static_cast<unsigned>(c - u'0');
  }
  return static_cast<std::uint8_t>(value);
}

std::u16string UpperCaseAscii(std::u16string_view Text) {
  return Upper(Text);
}

std::string UpperCaseAscii(std::string_view Text) {
  return Upper(Text);
}

bool EqualsIgnoringAsciiCase(std::u16string_view A, std::u16string_view B) {
  return A.size() == B.size() && UpperCaseAscii(A) == UpperCaseAscii(B);
}

bool StartsWithIgnoringAsciiCase(std::u16string_view Text, std::u16string_view Prefix) {
  return Text.size() >= Prefix.size() &&
         EqualsIgnoringAsciiCase(Text.substr(0, Prefix.size()), Prefix);
}

}  // namespace quorvel::relay
