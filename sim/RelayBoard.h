// The behaviour of a USB HID relay board: one 8-byte feature report without a report
// ID, carrying the board ID and the relay state, and the commands that change them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "relay/RelayProtocol.h"

namespace quorvel::sim {

class TRelayBoard {
 public:
  static constexpr std::size_t kReportLength = relay::kReportLength;
  static constexpr std::size_t kBoardIdLength = relay::kBoardIdLength;

  // The board's report descriptor: vendor page 0xFF00, one application collection,
  // eight 8-bit feature items, no report ID.
  static std::span<const std::uint8_t> ReportDescriptor();

  // relays: 1, 2, 4 or 8; the board ID is exactly five characters.
  static bool ValidRelayCount(int relays);

  TRelayBoard(std::string boardId, int relays, std::uint8_t state);

  const std::string& BoardId() const { return boardId_; }
  int Relays() const { return relays_; }
  // What the board reports: the commanded state with the stuck relays held.
  std::uint8_t State() const;
  // What the commands asked for, stuck relays or not.
  std::uint8_t Commanded() const { return commanded_; }
  std::uint8_t StuckMask() const { return stuckMask_; }
  std::uint8_t StuckValue() const { return stuckValue_; }

  void SetBoardId(std::string id) { boardId_ = std::move(id); }
  void SetCommanded(std::uint8_t state) { commanded_ = static_cast<std::uint8_t>(state & Mask()); }
  // Relays in mask no longer follow commands and report the bits of value instead.
  void SetStuck(std::uint8_t mask, std::uint8_t value);

  // Fills report[1..8] after the report ID byte, as a get-feature answers.
  void FillReport(std::span<std::uint8_t, kReportLength> report) const;
  // Applies one set-feature report (report ID byte first). Commands the board does not
  // know, and relay numbers it does not have, change nothing.
  void Apply(std::span<const std::uint8_t, kReportLength> report);

 private:
  std::uint8_t Mask() const { return relay::RelayMask(relays_); }

  std::string boardId_;
  int relays_;
  std::uint8_t commanded_;
  std::uint8_t stuckMask_ = 0;
  std::uint8_t stuckValue_ = 0;
};

}  // namespace quorvel::sim
