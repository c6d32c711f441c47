// One request applied to one board over its feature report.
#pragma once

#include <cstdint>
#include <string>

#include "relay/RelayChange.h"

namespace quorvel::hid {
class THidDevice;
}

namespace quorvel::relay {

// What became of one switching. State is meaningful only when FinalReadOk.
struct TSwitchResult {
  bool FirstReadOk = false;
  bool CommandsOk = false;  // every command the board was sent took
  bool FinalReadOk = false;
  TRelayMask State = 0;
  // The failure was the platform refusing a board that opened without read
  // and write access: a permission problem, not a faulty board.
  bool AccessDenied = false;

  bool Succeeded() const { return FirstReadOk && CommandsOk && FinalReadOk; }
};

// One state read: the board's ID and relay state, meaningful only when ReadOk.
struct TBoardReading {
  bool ReadOk = false;
  bool AccessDenied = false;  // as in TSwitchResult
  std::string BoardId;        // the five ID bytes as the board gave them
  TRelayMask State = 0;
};

// Reads the board's feature report once; sends nothing.
TBoardReading ReadBoard(hid::THidDevice& Board);

// Gives the board a new ID (kBoardIdLength characters the board may hold; the caller
// checks them): reads the board, sends the ID and reads it back. Nothing is sent when the
// first read fails. Succeeded() only when the board reports the new ID afterwards.
TSwitchResult SetBoardId(hid::THidDevice& Board, const std::string& NewId);

// Reads the board's state once, applies the change to it (a toggle flips the state just
// read), sends the commands that bring the board there and reads the state back. Nothing
// is sent when the first read fails; a failed command does not stop the others, so every
// other relay still reaches its requested state.
TSwitchResult SwitchRelays(hid::THidDevice& Board, const TRelayChange& Change);

}  // namespace quorvel::relay
