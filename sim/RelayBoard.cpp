#include "sim/RelayBoard.h"

#include <algorithm>

namespace quorvel::sim {
namespace {

constexpr std::uint8_t kRelayOn = 0xFF;
constexpr std::uint8_t kRelayOff = 0xFD;
constexpr std::uint8_t kAllOn = 0xFE;
constexpr std::uint8_t kAllOff = 0xFC;
constexpr std::uint8_t kSetBoardId = 0xFA;

constexpr std::array<std::uint8_t, 22> kDescriptor = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x08,        //   Report Count (8)
    0x09, 0x00,        //   Usage (0)
    0xB2, 0x02, 0x01,  //   Feature (Data, Variable, Absolute, Buffered Bytes)
    0xC0,              // End Collection
};

}  // namespace

std::span<const std::uint8_t> TRelayBoard::ReportDescriptor() {
  return kDescriptor;
}

bool TRelayBoard::ValidRelayCount(int relays) {
  return relays == 1 || relays == 2 || relays == 4 || relays == 8;
}

TRelayBoard::TRelayBoard(std::string boardId, int relays, std::uint8_t state)
    : FBoardId(std::move(boardId)), FRelays(relays), FCommanded(0) {
  SetCommanded(state);
}

std::uint8_t TRelayBoard::State() const {
  return static_cast<std::uint8_t>((FCommanded & ~FStuckMask) | (FStuckValue & FStuckMask));
}

void TRelayBoard::SetStuck(std::uint8_t mask, std::uint8_t value) {
  FStuckMask = static_cast<std::uint8_t>(mask & Mask());
  FStuckValue = static_cast<std::uint8_t>(value & FStuckMask);
}

void TRelayBoard::FillReport(std::span<std::uint8_t, kReportLength> report) const {
  std::fill(report.begin() + 1, report.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < kBoardIdLength && i < FBoardId.size(); ++i) {
    report[1 + i] = static_cast<std::uint8_t>(FBoardId[i]);
  }
  report[8] = State();
}

void TRelayBoard::Apply(std::span<const std::uint8_t, kReportLength> report) {
  const std::uint8_t command = report[1];
  const unsigned relay = report[2];
  const bool known = relay >= 1 && relay <= static_cast<unsigned>(FRelays);
  switch (command) {
    case kRelayOn:
      if (known) {
        FCommanded = static_cast<std::uint8_t>(FCommanded | (1u << (relay - 1)));
      }
      break;
    case kRelayOff:
      if (known) {
        FCommanded = static_cast<std::uint8_t>(FCommanded & ~(1u << (relay - 1)));
      }
      break;
    case kAllOn:
      FCommanded = Mask();
      break;
    case kAllOff:
      FCommanded = 0;
      break;
    case kSetBoardId:
      FBoardId.assign(reinterpret_cast<const char*>(&report[2]), kBoardIdLength);
      break;
    default:
      break;
  }
}

}  // namespace quorvel::sim
