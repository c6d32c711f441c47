#include "bridge/BoardPort.h"

#include <array>

#include "app/BoardDiscovery.h"
#include "app/RelaySwitching.h"
#include "hid/HidDevice.h"

namespace quorvel::bridge {
namespace {

// The state read's layout: report ID 0, then the board's eight data bytes.
constexpr int kReportSize = 9;
constexpr std::size_t kBoardIdByte = 1;
constexpr std::size_t kBoardIdLength = 5;
constexpr std::size_t kStateByte = 8;

}  // namespace

TBoardReading ReadBoard(hid::THidDevice& Board) {
  std::array<std::uint8_t, 10> buffer{};
  TBoardReading reading;
  reading.Ok = Board.GetFeature(buffer.data(), kReportSize);
  if (reading.Ok) {
    reading.Id.assign(buffer.begin() + kBoardIdByte,
                      buffer.begin() + kBoardIdByte + kBoardIdLength);
    reading.State = buffer[kStateByte];
  }
  return reading;
}

TSwitchOutcome SwitchBoard(hid::THidDevice& Board, std::uint8_t On, std::uint8_t Touched) {
  const app::TSwitchResult result = app::SwitchRelays(
      Board, app::TRelayRequest{0, static_cast<std::uint8_t>(On & Touched), Touched});
  return {result.Succeeded(), result.FinalReadOk, result.State};
}

bool IsRelayBoardName(const std::u16string& ProductName) {
  return app::IsRelayBoard(ProductName);
}

int RelayCountOf(const std::u16string& ProductName) {
  constexpr std::size_t kDigit = 8;  // behind "USBRelay"
  if (ProductName.size() > kDigit) {
    const int digit = ProductName[kDigit] - u'0';
    if (digit >= 1 && digit <= 8) {
      return digit;
    }
  }
  return 8;
}

}  // namespace quorvel::bridge
