// What the tool says of a board, on whichever road: its state and a refused access.
#pragma once

#include <string>

#include "app/Console.h"
#include "relay/RelayChange.h"

namespace quorvel::app {

// The line that reports a board's relay state after switching or reading it.
std::u16string StatusLine(relay::TRelayMask State);

// The line that follows a board's failure when the system refused access to the board.
void WriteAccessDenied(Console& Output);

}  // namespace quorvel::app
