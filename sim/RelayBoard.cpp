#include "sim/RelayBoard.h"

#include <algorithm>

namespace quorvel::sim {

std::span<const std::uint8_t> TRelayBoard::ReportDescriptor() {
  return relay::kReportDescriptor;
}

bool TRelayBoard::ValidRelayCount(int relays) {
  return relays == 1 || relays == 2 || relays == 4 || relays == 8;
}

TRelayBoard::TRelayBoard(std::string boardId, int relays, std::uint8_t state)
    : boardId_(std::move(boardId)), relays_(relays), commanded_(0) {
  SetCommanded(state);
}

std::uint8_t TRelayBoard::State() const {
  return static_cast<std::uint8_t>((commanded_ & ~stuckMask_) | (stuckValue_ & stuckMask_));
}

void TRelayBoard::SetStuck(std::uint8_t mask, std::uint8_t value) {
  stuckMask_ = static_cast<std::uint8_t>(mask & Mask());
  stuckValue_ = static_cast<std::uint8_t>(value & stuckMask_);
}

void TRelayBoard::FillReport(std::span<std::uint8_t, kReportLength> report) const {
  std::fill(report.begin() + 1, report.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < kBoardIdLength && i < boardId_.size(); ++i) {
    report[relay::kBoardIdByte + i] = static_cast<std::uint8_t>(boardId_[i]);
  }
  report[relay::kStateByte] = State();
}

void TRelayBoard::Apply(std::span<const std::uint8_t, kReportLength> report) {
  const std::uint8_t command = report[relay::kCommandByte];
  const unsigned number = report[relay::kRelayByte];
  const bool known = number >= 1 && number <= static_cast<unsigned>(relays_);
  const auto bit = static_cast<std::uint8_t>(known ? relay::RelayBit(static_cast<int>(number)) : 0);
  switch (command) {
    case relay::CmdRelayOn:
      commanded_ = static_cast<std::uint8_t>(commanded_ | bit);
      break;
    case relay::CmdRelayOff:
      commanded_ = static_cast<std::uint8_t>(commanded_ & ~bit);
      break;
    case relay::CmdAllOn:
      commanded_ = Mask();
      break;
    case relay::CmdAllOff:
      commanded_ = 0;
      break;
    case relay::CmdSetBoardId:
      boardId_.assign(reinterpret_cast<const char*>(&report[relay::kNewBoardIdByte]),
                      kBoardIdLength);
      break;
    default:
      break;
  }
}

}  // namespace quorvel::sim
