// The relay road's arguments: ID=, ON=, OFF=, N=, B=.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/Console.h"
#include "app/RelayRequest.h"
#include "relay/ValueReaders.h"

namespace quorvel::app {

// Reads the arguments (without the program path) left to right into Request,
// after setting its ID to 1. Returns false, having written the message, for a
// lone "ID=" argument, a non-empty argument without any keyword, or an argument
// whose value means nothing; the request must then not be used. Empty arguments
// are skipped.
bool ParseArguments(std::span<const std::u16string> Arguments, TRelayRequest& Request,
                    Console& Output);
// The same, where Named holds, per argument, the board an "ID=" argument named by its ID or
// path (ChooseNamedBoards): such an argument chooses that board and means nothing else.
bool ParseArguments(std::span<const std::u16string> Arguments, TRelayRequest& Request,
                    Console& Output, std::span<const std::optional<std::int32_t>> Named);

// Each handler inspects one upper-cased argument A and does nothing when its
// keyword is absent. A false result means the keyword is there but its value
// is unusable; the request may then be half changed.
bool ParseID(std::u16string_view A, TRelayRequest& Request);
void ParseOnOff(std::u16string_view A, TRelayRequest& Request);
bool ParseN(std::u16string_view A, TRelayRequest& Request);
bool ParseB(std::u16string_view A, TRelayRequest& Request);

// The refusal of an argument that means nothing to the tool.
void WriteInvalidArgument(Console& Output, std::u16string_view Argument);

using relay::BinStrToByte;
using relay::EqualsIgnoringAsciiCase;
using relay::NumStrToByte;
using relay::StartsWithIgnoringAsciiCase;
using relay::UpperCaseAscii;

}  // namespace quorvel::app
