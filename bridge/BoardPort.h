// The bridge's access to one relay board, over the relay library (relay/).
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::hid {
class THidDevice;
}

namespace quorvel::bridge {

struct TBoardReading {
  bool Ok = false;
  std::string Id;  // the five ID bytes as the board holds them
  std::uint8_t State = 0;
};

// One state read: the board's ID and relay state.
TBoardReading ReadBoard(hid::THidDevice& Board);

struct TSwitchOutcome {
  bool Ok = false;          // every exchange took
  bool StateKnown = false;  // State was read back from the board
  std::uint8_t State = 0;
};

// Brings the relays in Touched to their bit of On, then reads the state back.
TSwitchOutcome SwitchBoard(hid::THidDevice& Board, std::uint8_t On, std::uint8_t Touched);

bool IsRelayBoardName(const std::u16string& ProductName);
// The relay count the product name announces; 8 when it names none.
int RelayCountOf(const std::u16string& ProductName);

}  // namespace quorvel::bridge
