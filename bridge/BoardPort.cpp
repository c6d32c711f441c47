#include "bridge/BoardPort.h"

#include <array>

#include "hid/HidDevice.h"
#include "relay/BoardDiscovery.h"
#include "relay/RelayProtocol.h"
#include "relay/RelaySwitching.h"

namespace quorvel::bridge {

TBoardReading ReadBoard(hid::THidDevice& Board) {
  std::array<std::uint8_t, relay::kReportLength + 1> buffer{};
  buffer[relay::kReportIdByte] = relay::kReportId;
  TBoardReading reading;
  reading.Ok = Board.GetFeature(buffer.data(), static_cast<int>(relay::kReportLength));
  if (reading.Ok) {
    const auto id = buffer.begin() + relay::kBoardIdByte;
    reading.Id.assign(id, id + relay::kBoardIdLength);
    reading.State = buffer[relay::kStateByte];
  }
  return reading;
}

TSwitchOutcome SwitchBoard(hid::THidDevice& Board, std::uint8_t On, std::uint8_t Touched) {
  const relay::TSwitchResult result = relay::SwitchRelays(
      Board, relay::TRelayRequest{0, static_cast<std::uint8_t>(On & Touched), Touched});
  return {result.Succeeded(), result.FinalReadOk, result.State};
}

bool IsRelayBoardName(const std::u16string& ProductName) {
  return relay::IsRelayBoard(ProductName);
}

int RelayCountOf(const std::u16string& ProductName) {
  return relay::RelayCount(ProductName);
}

}  // namespace quorvel::bridge
