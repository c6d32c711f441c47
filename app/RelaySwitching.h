// The relay boards' feature-report protocol: one request applied to one board.
#pragma once

#include <cstdint>

#include "app/RelayRequest.h"

namespace quorvel::hid {
class THidDevice;
}

namespace quorvel::app {

// Command bytes of a set-feature report.
inline constexpr std::uint8_t CmdRelayOn = 0xFF;
inline constexpr std::uint8_t CmdRelayOff = 0xFD;
inline constexpr std::uint8_t CmdAllOn = 0xFE;
inline constexpr std::uint8_t CmdAllOff = 0xFC;

// What became of one switching. State is meaningful only when FinalReadOk.
struct TSwitchResult {
  bool FirstReadOk = false;
  bool CommandsOk = false;  // every command the board was sent took
  bool FinalReadOk = false;
  std::uint8_t State = 0;
  // The failure was the platform refusing a board that opened without read
  // and write access: a permission problem, not a faulty board.
  bool AccessDenied = false;

  bool Succeeded() const { return FirstReadOk && CommandsOk && FinalReadOk; }
};

// The new relay state: relays the request decides take its value, the others
// keep the one the board reported.
constexpr std::uint8_t NewRelayState(std::uint8_t Present, const TRelayRequest& Request) {
  return static_cast<std::uint8_t>(Request.OnMask | (Present & ~Request.TouchedMask));
}

// Reads the board's state, sends the commands that bring it to the requested
// state and reads the state back. Nothing is sent when the first read fails;
// a failed command does not stop the others, so every other relay still
// reaches its requested state.
TSwitchResult SwitchRelays(hid::THidDevice& Board, const TRelayRequest& Request);

}  // namespace quorvel::app
