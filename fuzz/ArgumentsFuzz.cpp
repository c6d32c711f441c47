// Fuzz target for the relay road's argument grammar and the text conversions under it.
// The input is a list of arguments separated by newlines; a first byte with its low bit
// set makes them raw UTF-16 units (so unpaired surrogates arrive as they can on Windows),
// otherwise UTF-8. Beyond not crashing, an accepted request may switch on only relays it
// decides, and UTF-8 made from any text must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/ArgumentGrammar.h"
#include "app/Console.h"
#include "app/NumberConversion.h"
#include "platform/Utf.h"

namespace {

using namespace quorvel;

class TDiscardingConsole final : public app::Console {
  bool Emit(std::u16string_view) override { return true; }
};

std::u16string Decode(std::string_view bytes, bool rawUnits) {
  if (!rawUnits) {
    return platform::Utf8ToUtf16(bytes);
  }
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

void Require(bool holds) {
  if (!holds) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const bool rawUnits = (data[0] & 1) != 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::u16string> arguments;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) {
      end = input.size();
    }
    arguments.push_back(Decode(input.substr(start, end - start), rawUnits));
    start = end + 1;
  }

  for (const std::u16string& argument : arguments) {
    const std::string utf8 = platform::Utf16ToUtf8(argument);
    const std::u16string again = platform::Utf8ToUtf16(utf8);
    Require(platform::Utf16ToUtf8(again) == utf8);

    std::int32_t value = 0x5A5A5A5A;
    if (!relay::TryStrToInt(argument, value)) {
      Require(value == 0x5A5A5A5A);  // a refused text leaves the value alone
    }
    (void)relay::NumStrToByte(argument);
    (void)relay::BinStrToByte(argument);
  }

  app::TRelayRequest request;
  TDiscardingConsole console;
  if (app::ParseArguments(arguments, request, console)) {
    Require((request.OnMask & ~request.TouchedMask) == 0);
  }
  return 0;
}
