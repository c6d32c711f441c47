#include "relay/RelayBoard.h"

#include "hid/HidDevice.h"
#include "relay/RelayProtocol.h"

namespace quorvel::relay {

std::string ShownBoardId(std::string_view Id) {
  std::string shown;
  for (const char c : Id) {
    shown += IsBoardIdCharacter(static_cast<unsigned char>(c)) ? c : '?';
  }
  return shown;
}

std::string ShownText(std::u16string_view Text) {
  std::string shown;
  for (const char16_t c : Text) {
    shown += IsBoardIdCharacter(c) ? static_cast<char>(c) : '?';
  }
  return shown;
}

std::optional<TRelayBoard> RecogniseBoard(hid::THidDevice& Device) {
  const std::u16string& product = Device.ProductName();
  const TBoardModel* model =
      FindBoardModel(product, Device.Attributes().VendorID, Device.Attributes().ProductID);
  if (model == nullptr) {
    return std::nullopt;
  }
  TRelayBoard board;
  board.Model = model;
  board.Device = &Device;
  board.Relays = RelayCount(*model, product);
  if (const hid::THidPnPInfo* info = Device.PnPInfo()) {
    board.Path = info->DevicePath();
    board.DeviceId = info->DeviceID();
  }
  return board;
}

TBoardReading ReadBoard(TRelayBoard& Board) {
  const TBoardReading reading = ReadBoard(*Board.Device);
  Board.IdKnown = reading.ReadOk;
  Board.StateKnown = reading.ReadOk;
  if (reading.ReadOk) {
    Board.Id = reading.BoardId;
    Board.State = reading.State;
  }
  return reading;
}

TSwitchResult SwitchBoard(TRelayBoard& Board, const TRelayChange& Change) {
  const TSwitchResult result = SwitchRelays(*Board.Device, Change);
  // A board that did not answer after its commands is in a state nobody knows.
  Board.StateKnown = result.FinalReadOk;
  if (result.FinalReadOk) {
    Board.State = result.State;
  }
  return result;
}

TSwitchResult SetBoardId(TRelayBoard& Board, const std::string& NewId) {
  const TSwitchResult result = SetBoardId(*Board.Device, NewId);
  if (result.FirstReadOk && !result.FinalReadOk) {
    Board.IdKnown = false;
    Board.StateKnown = false;
  } else if (result.FinalReadOk) {
    Board.State = result.State;
    Board.StateKnown = true;
    // Only a board that reports the new ID took it (SetBoardId compares); what another
    // answer holds is not kept.
    Board.IdKnown = result.CommandsOk;
    if (result.CommandsOk) {
      Board.Id = NewId;
    }
  }
  return result;
}

}  // namespace quorvel::relay
