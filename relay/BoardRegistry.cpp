#include "relay/BoardRegistry.h"

#include <utility>

#include "trace/Trace.h"

namespace quorvel::relay {

TBoardRegistry::~TBoardRegistry() {
  Stop();
}

void TBoardRegistry::Start() {
  controller_ = std::make_unique<hid::THidDeviceController>();
  // Before the first scan, which the change handler starts.
  controller_->SetOnDeviceCreateError(
      hid::THidDeviceCreateError::Of<&TBoardRegistry::OnCreateError>(this));
  controller_->SetOnEnumerate(hid::THidEnumerateEvent::Of<&TBoardRegistry::OnEnumerate>(this));
  controller_->SetOnDeviceUnplug(hid::THidPlugEvent::Of<&TBoardRegistry::OnUnplug>(this));
  controller_->SetOnDeviceChange(hid::TNotifyEvent::Of<&TBoardRegistry::OnDeviceChange>(this));
  Adopt();
}

void TBoardRegistry::Stop() noexcept {
  // Devices go with the controller; with no boards left, its unplug events announce nothing.
  boards_.clear();
  found_.clear();
  controller_.reset();
}

int TBoardRegistry::MessageFd() const {
  return controller_ ? controller_->MessageFd() : -1;
}

void TBoardRegistry::ProcessMessages() {
  controller_->ProcessMessages();
}

TRelayBoard* TBoardRegistry::Find(const std::string& Id) {
  const auto found = boards_.find(Id);
  return found == boards_.end() ? nullptr : &found->second;
}

void TBoardRegistry::Rescan() {
  // A scan that finds nothing new costs no board exchange.
  controller_->DeviceChange();
  if (!warned_.empty()) {
    // udev gives a new node its group after the kernel announced it.
    Adopt();
  }
}

void TBoardRegistry::Adopt() {
  refusedNow_.clear();
  controller_->Enumerate();
  std::vector<TRelayBoard> found = std::exchange(found_, {});
  std::map<std::string, int> holders;
  for (const TRelayBoard& board : found) {
    ++holders[board.Id];
  }
  // Boards of one ID cannot be told apart by a command: serving either could switch the
  // wrong one (which comes first changes with plugging and restarts), so neither is served.
  sharedIds_.clear();
  for (TRelayBoard& board : found) {
    const auto served = boards_.find(board.Id);
    if (holders[board.Id] == 1 && served == boards_.end()) {
      warned_.erase(board.DeviceId);
      TRelayBoard& entry = boards_[board.Id] = board;
      if (trace::TraceOn(trace::kDecisions)) {
        trace::TraceLine("board \"" + ShownBoardId(board.Id) + "\" served");
      }
      events_.BoardArrived(entry);
      continue;
    }
    if (served != boards_.end()) {
      hid::THidDevice* device = served->second.Device;
      Forget(board.Id, false);
      controller_->CheckIn(device);
    }
    if (sharedIds_.insert(board.Id).second && trace::TraceOn(trace::kDecisions)) {
      trace::TraceLine("two boards or more share the ID \"" + ShownBoardId(board.Id) +
                       "\"; none of them is served");
    }
    Refuse(board, "has the ID \"" + board.Id +
                      "\" of another board present; neither is served until one of them gets "
                      "another ID with the tool");
    controller_->CheckIn(board.Device);
  }
  // Refusals of devices that left or were taken are forgotten, so that they are told again.
  std::erase_if(warned_, [&](std::uint32_t id) { return !refusedNow_.contains(id); });
}

bool TBoardRegistry::OnEnumerate(hid::THidDevice* HidDev, std::int32_t Idx) {
  if (HidDev->IsCheckedOut() || !HidDev->IsPluggedIn()) {
    return true;
  }
  std::optional<TRelayBoard> board = RecogniseBoard(*HidDev);
  hid::THidDevice* device = nullptr;
  if (!board || !controller_->CheckOutByIndex(device, Idx) || device == nullptr) {
    return true;
  }
  board->Device = device;  // the listed object itself
  std::string why;
  const bool readable = ReadBoard(*board).ReadOk;
  if (!readable) {
    why = "cannot be read (error " + std::to_string(hid::PlatformLastError()) + "; permissions?)";
  }
  if (!readable || !events_.AcceptsId(board->Id, why)) {
    Refuse(*board, why);
    controller_->CheckIn(device);
    return true;
  }
  found_.push_back(std::move(*board));
  return true;
}

void TBoardRegistry::OnDeviceChange(hid::TLayerComponent* /*Sender*/) {
  Adopt();
}

void TBoardRegistry::OnCreateError(hid::THidDeviceController* /*Controller*/,
                                   hid::THidPnPInfo* PnPInfo, bool& Handled, bool& RetryCreate) {
  // One odd HID device must not keep every board from being served.
  Handled = true;
  RetryCreate = false;
  const std::u16string path = PnPInfo != nullptr ? PnPInfo->DevicePath() : std::u16string();
  if (skipped_.insert(path).second) {
    events_.DeviceSkipped(path);
  }
}

void TBoardRegistry::Refuse(const TRelayBoard& Board, const std::string& Why) {
  if (trace::TraceOn(trace::kDecisions)) {
    trace::TraceLine("board of plug-in " + std::to_string(Board.DeviceId) + " not served: it " +
                     Why);
  }
  refusedNow_.insert(Board.DeviceId);
  if (warned_.insert(Board.DeviceId).second) {
    events_.BoardRefused(Board, Why);
  }
}

void TBoardRegistry::OnUnplug(hid::THidDevice* HidDev) {
  for (const auto& [id, board] : boards_) {
    if (board.Device == HidDev) {
      const std::string gone = id;
      Forget(gone, true);
      break;
    }
  }
  if (HidDev->IsCheckedOut()) {
    controller_->CheckIn(HidDev);
  }
}

void TBoardRegistry::Forget(const std::string& Id, bool Unplugged) {
  const auto served = boards_.find(Id);
  if (served == boards_.end()) {
    return;
  }
  const TRelayBoard board = served->second;
  boards_.erase(served);
  events_.BoardLeft(board, Unplugged);
}

void TBoardRegistry::RefreshStates() {
  std::vector<std::string> renamed;
  for (auto& [id, board] : boards_) {
    // Read past the record: a board that left goes with the next scan, and one given
    // another ID is forgotten under the ID it was served by; both keep the record as it is.
    const TBoardReading reading = ReadBoard(*board.Device);
    if (!reading.ReadOk) {
      continue;
    }
    if (reading.BoardId != id) {
      renamed.push_back(id);
      continue;
    }
    const bool changed = !board.StateKnown || reading.State != board.State;
    board.State = reading.State;
    board.StateKnown = true;
    events_.BoardRead(board, changed);
  }
  for (const std::string& id : renamed) {
    hid::THidDevice* device = boards_[id].Device;
    Forget(id, false);
    controller_->CheckIn(device);
  }
  if (!renamed.empty()) {
    Adopt();  // under its new ID
  }
}

}  // namespace quorvel::relay
