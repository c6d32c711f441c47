// What one run asks of one relay board, as the argument grammar builds it.
#pragma once

#include <cstdint>

#include "relay/RelayChange.h"

namespace quorvel::app {

// Bit k of each mask stands for relay k+1. OnMask never holds a bit that
// TouchedMask lacks: a relay the request does not decide keeps the state the
// board reports.
struct TRelayRequest {
  std::int32_t ID = 0;  // board number, 1 being the first board found
  std::uint8_t OnMask = 0;
  std::uint8_t TouchedMask = 0;

  // The request as the board service takes it.
  relay::TRelayChange Change() const {
    return {.On = OnMask, .Off = static_cast<relay::TRelayMask>(TouchedMask & ~OnMask)};
  }
};

}  // namespace quorvel::app
