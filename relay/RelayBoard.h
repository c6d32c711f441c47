// A relay board as the service knows it: its family, its device, its own ID, its relay
// count and the last state read. Every front keeps boards as these records and reaches them
// through the operations below, which keep the record up to date.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "relay/BoardModel.h"
#include "relay/RelayChange.h"
#include "relay/RelaySwitching.h"

namespace quorvel::hid {
class THidDevice;
}

namespace quorvel::relay {

struct TRelayBoard {
  const TBoardModel* Model = nullptr;
  hid::THidDevice* Device = nullptr;  // the controller owns it
  std::u16string Path;
  std::uint32_t DeviceId = 0;  // one plug-in of the device; a replugged board has another
  int Relays = 0;
  std::string Id;  // the five ID bytes as last read
  bool IdKnown = false;
  TRelayMask State = 0;
  bool StateKnown = false;
};

// A board's ID as it may be shown: bytes a board may not hold in an ID show as "?".
std::string ShownBoardId(std::string_view Id);
// A path or a value given by a user, for the trace: the same rule, character by character.
std::string ShownText(std::u16string_view Text);

// The record of Device when it is a relay board of a known family; nothing is read or sent.
std::optional<TRelayBoard> RecogniseBoard(hid::THidDevice& Device);

// One read of the board (nothing sent); the record keeps the ID and state it gave.
TBoardReading ReadBoard(TRelayBoard& Board);
// Switches the board (SwitchRelays); the record keeps the state read back.
TSwitchResult SwitchBoard(TRelayBoard& Board, const TRelayChange& Change);
// Gives the board a new ID (SetBoardId); the record keeps what the board reports after.
TSwitchResult SetBoardId(TRelayBoard& Board, const std::string& NewId);

}  // namespace quorvel::relay
