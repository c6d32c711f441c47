#include "app/RelaySwitching.h"

#include <array>

#include "hid/HidDevice.h"

namespace quorvel::app {
namespace {

// Report ID 0 and eight data bytes travel; the tenth byte is never sent.
constexpr int kReportSize = 9;
constexpr std::size_t kCommandByte = 1;
constexpr std::size_t kRelayByte = 2;
constexpr std::size_t kStateByte = 8;

class Exchange {
 public:
  Exchange(hid::THidDevice& board, TSwitchResult& result) : board_(board), result_(result) {}

  bool Read() { return Checked(board_.GetFeature(buffer_.data(), kReportSize)); }

  // Bytes 3 to 8 stay as the first read left them.
  bool Command(std::uint8_t command, std::uint8_t relay) {
    buffer_[0] = 0;
    buffer_[kCommandByte] = command;
    buffer_[kRelayByte] = relay;
    return Checked(board_.SetFeature(buffer_.data(), kReportSize));
  }

  std::uint8_t State() const { return buffer_[kStateByte]; }

 private:
  bool Checked(bool ok) {
    // Not tied to HasReadWriteAccess: a platform may grant the open and refuse the first
    // report call (Linux opens the node only then).
    if (!ok && hid::PlatformLastError() == ERROR_ACCESS_DENIED) {
      result_.AccessDenied = true;
    }
    return ok;
  }

  hid::THidDevice& board_;
  TSwitchResult& result_;
  std::array<std::uint8_t, 10> buffer_{};
};

}  // namespace

TSwitchResult SwitchRelays(hid::THidDevice& Board, const TRelayRequest& Request) {
  TSwitchResult result;
  Exchange exchange(Board, result);
  result.FirstReadOk = exchange.Read();
  if (!result.FirstReadOk) {
    return result;  // the present state is unknown: switching now could change any relay
  }
  const std::uint8_t target = NewRelayState(exchange.State(), Request);
  result.CommandsOk = true;
  if (target == 0x00 || target == 0xFF) {
    result.CommandsOk = exchange.Command(target == 0x00 ? CmdAllOff : CmdAllOn, 0);
  } else {
    for (std::uint8_t relay = 1; relay <= 8; ++relay) {
      const bool on = (target >> (relay - 1)) & 1U;
      if (!exchange.Command(on ? CmdRelayOn : CmdRelayOff, relay)) {
        result.CommandsOk = false;
      }
    }
  }
  result.FinalReadOk = exchange.Read();
  if (result.FinalReadOk) {
    result.State = exchange.State();
  }
  return result;
}

}  // namespace quorvel::app
