#include "relay/RelaySwitching.h"

#include <algorithm>
#include <array>

#include "hid/HidDevice.h"
#include "relay/RelayBoard.h"
#include "relay/RelayProtocol.h"
#include "trace/Trace.h"

namespace quorvel::relay {
namespace {

class Exchange {
 public:
  Exchange(hid::THidDevice& board, TSwitchResult& result) : board_(board), result_(result) {}

  bool Read() {
    const bool ok = Checked(board_.GetFeature(buffer_.data(), static_cast<int>(kReportLength)));
    if (trace::TraceOn(trace::kDecisions)) {
      Trace(ok ? "state " + Hex(State()) + ", ID \"" + ShownBoardId(BoardId()) + "\""
               : "state read failed");
    }
    return ok;
  }

  // Bytes 3 to 8 stay as the first read left them.
  bool Command(std::uint8_t command, std::uint8_t relay) {
    buffer_[kReportIdByte] = kReportId;
    buffer_[kCommandByte] = command;
    buffer_[kRelayByte] = relay;
    const bool ok = Checked(board_.SetFeature(buffer_.data(), static_cast<int>(kReportLength)));
    if (trace::TraceOn(trace::kDecisions)) {
      const std::string what =
          command == CmdAllOn ? "every relay on"
          : command == CmdAllOff
              ? "every relay off"
              : "relay " + std::to_string(relay) + (command == CmdRelayOn ? " on" : " off");
      Trace(what + (ok ? "" : ": failed"));
    }
    return ok;
  }

  // The relay state and the bytes behind the ID stay as the first read left them.
  bool SetId(const std::string& id) {
    buffer_[kReportIdByte] = kReportId;
    buffer_[kCommandByte] = CmdSetBoardId;
    std::copy_n(id.begin(), kBoardIdLength, buffer_.begin() + kNewBoardIdByte);
    const bool ok = Checked(board_.SetFeature(buffer_.data(), static_cast<int>(kReportLength)));
    if (trace::TraceOn(trace::kDecisions)) {
      Trace("ID \"" + ShownBoardId(id) + "\" sent" + (ok ? "" : ": failed"));
    }
    return ok;
  }

  std::uint8_t State() const { return buffer_[kStateByte]; }
  std::string BoardId() const {
    return std::string(buffer_.begin() + kBoardIdByte,
                       buffer_.begin() + kBoardIdByte + kBoardIdLength);
  }

 private:
  static std::string Hex(std::uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
  }

  // "board /dev/hidraw3: relay 3 on".
  void Trace(const std::string& what) const {
    const hid::THidPnPInfo* info = board_.PnPInfo();
    trace::TraceLine("board " + (info != nullptr ? ShownText(info->DevicePath()) : std::string()) +
                     ": " + what);
  }

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
  // One byte more than travels: the tenth is never sent.
  std::array<std::uint8_t, kReportLength + 1> buffer_{};
};

}  // namespace

TBoardReading ReadBoard(hid::THidDevice& Board) {
  TSwitchResult access;
  Exchange exchange(Board, access);
  TBoardReading reading;
  reading.ReadOk = exchange.Read();
  reading.AccessDenied = access.AccessDenied;
  if (reading.ReadOk) {
    reading.BoardId = exchange.BoardId();
    reading.State = exchange.State();
  }
  return reading;
}

TSwitchResult SetBoardId(hid::THidDevice& Board, const std::string& NewId) {
  TSwitchResult result;
  if (NewId.size() != kBoardIdLength) {
    return result;
  }
  Exchange exchange(Board, result);
  result.FirstReadOk = exchange.Read();
  if (!result.FirstReadOk) {
    return result;
  }
  result.CommandsOk = exchange.SetId(NewId);
  result.FinalReadOk = exchange.Read();
  if (result.FinalReadOk) {
    result.State = exchange.State();
    // A board that ignored the command, or stored something else, did not take it.
    result.CommandsOk = result.CommandsOk && exchange.BoardId() == NewId;
  }
  return result;
}

TSwitchResult SwitchRelays(hid::THidDevice& Board, const TRelayChange& Change) {
  TSwitchResult result;
  Exchange exchange(Board, result);
  result.FirstReadOk = exchange.Read();
  if (!result.FirstReadOk) {
    return result;  // the present state is unknown: switching now could change any relay
  }
  const auto target =
      static_cast<std::uint8_t>(ApplyChange(exchange.State(), Change) & AllRelaysMask(kMaxRelays));
  result.CommandsOk = true;
  if (target == 0 || target == kAllRelays) {
    result.CommandsOk = exchange.Command(target == 0 ? CmdAllOff : CmdAllOn, 0);
  } else {
    for (std::uint8_t relay = 1; relay <= kMaxRelays; ++relay) {
      const bool on = (target & RelayBit(relay)) != 0;
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

}  // namespace quorvel::relay
