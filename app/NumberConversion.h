// Numbers as the tool shows them; and read, as every front reads them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/RelayChange.h"
#include "relay/ValueReaders.h"

namespace quorvel::app {

// Numbers are read as every front reads them.
using relay::TryStrToInt;

// Decimal text, as the messages show board numbers.
std::u16string IntToStr(std::int32_t Value);

// Upper-case hexadecimal digits, two at least, as a relay state is shown.
std::u16string StateToHex(relay::TRelayMask Value);

}  // namespace quorvel::app
