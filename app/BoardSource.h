// What the tool's roads need from board discovery and switching.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/RelayRequest.h"
#include "relay/BoardChoice.h"
#include "relay/BoardDiscovery.h"
#include "relay/RelayProtocol.h"
#include "relay/RelaySwitching.h"

namespace quorvel::app {

using relay::TBoardReading;
using relay::TSwitchResult;

// A board as the listing shows it.
struct TBoardInfo {
  std::u16string Path;
  int Relays = relay::kMaxRelays;
};

class BoardSource : public relay::TBoardList {
 public:
  // Finds the HID devices present: the listing lines and the relay boards in
  // discovery order, board 1 first.
  virtual void CreateController() = 0;
  // Releases all CreateController made, also after it failed half way.
  virtual void FreeController() noexcept = 0;

  virtual const std::vector<std::u16string>& DeviceLines() const = 0;
  std::int32_t BoardCount() const override = 0;

  // Applies the request to board Request.ID, which must lie in 1 to
  // BoardCount(), and tells how it went and the board's resulting state.
  virtual TSwitchResult SwitchRelays(const TRelayRequest& Request) = 0;

  // Board Number (1 to BoardCount()): where it is, and one read of it, nothing sent.
  virtual TBoardInfo BoardInfo(std::int32_t /*Number*/) const { return {}; }
  virtual TBoardReading ReadBoard(std::int32_t /*Number*/) { return {}; }
  virtual TSwitchResult SetBoardId(std::int32_t /*Number*/, const std::string& /*NewId*/) {
    return {};
  }

  // What choosing a board by its ID or path needs.
  std::u16string BoardPath(std::int32_t Number) const final { return BoardInfo(Number).Path; }
  std::optional<std::string> ReadBoardId(std::int32_t Number) final {
    const TBoardReading reading = ReadBoard(Number);
    return reading.ReadOk ? std::optional(reading.BoardId) : std::nullopt;
  }
};

// The boards present, found through the HID device controller.
class DiscoveredBoards final : public BoardSource {
 public:
  void CreateController() override;
  void FreeController() noexcept override { discovery_.FreeController(); }
  const std::vector<std::u16string>& DeviceLines() const override {
    return discovery_.DeviceLines();
  }
  std::int32_t BoardCount() const override {
    return static_cast<std::int32_t>(discovery_.RelayBoards().size());
  }
  TSwitchResult SwitchRelays(const TRelayRequest& Request) override {
    return relay::SwitchBoard(Board(Request.ID), Request.Change());
  }
  TBoardInfo BoardInfo(std::int32_t Number) const override {
    const relay::TRelayBoard& board = discovery_.RelayBoards().at(Index(Number));
    return {.Path = board.Path, .Relays = board.Relays};
  }
  TBoardReading ReadBoard(std::int32_t Number) override { return relay::ReadBoard(Board(Number)); }
  TSwitchResult SetBoardId(std::int32_t Number, const std::string& NewId) override {
    return relay::SetBoardId(Board(Number), NewId);
  }

 private:
  static std::size_t Index(std::int32_t Number) { return static_cast<std::size_t>(Number) - 1; }
  relay::TRelayBoard& Board(std::int32_t Number) {
    return discovery_.RelayBoards().at(Index(Number));
  }

  relay::TBoardDiscovery discovery_;
};

}  // namespace quorvel::app
