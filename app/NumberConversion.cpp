#include "app/NumberConversion.h"

#include <string>

#include "platform/Utf.h"

namespace quorvel::app {
std::u16string IntToStr(std::int32_t Value) {
  return platform::Utf8ToUtf16(std::to_string(Value));
}

std::u16string StateToHex(relay::TRelayMask Value) {
  constexpr std::u16string_view kHexDigits = u"0123456789ABCDEF";
  std::u16string hex;
  do {
    hex.insert(hex.begin(), kHexDigits[Value & 0x0F]);
    Value >>= 4;
  } while (Value != 0 || hex.size() < 2);
  return hex;
}

}  // namespace quorvel::app
