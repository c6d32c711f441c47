// The boards of a program that stays: found, read and served by their own IDs, followed
// through arrivals, removals and new IDs. Boards that share an ID are served by none of
// them (a command could reach the wrong one), and a board the front cannot serve is told
// once per plug-in. The front hears of every change through TBoardEvents.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hid/HidControllerClass.h"
#include "relay/RelayBoard.h"

namespace quorvel::relay {

class TBoardEvents {
 public:
  virtual ~TBoardEvents() = default;
  // A board is served from now on, read already.
  virtual void BoardArrived(TRelayBoard& Board) = 0;
  // A served board is no longer: unplugged, given another ID, or joined by another board
  // with its ID.
  virtual void BoardLeft(const TRelayBoard& Board, bool Unplugged) = 0;
  // A refresh read the board: Changed when its state differs from the last one known.
  virtual void BoardRead(TRelayBoard& Board, bool Changed) = 0;
  // A board that is not served, and why; once for each plug-in until that changes.
  virtual void BoardRefused(const TRelayBoard& Board, const std::string& Why) = 0;
  // A HID device that cannot be identified; once for each path.
  virtual void DeviceSkipped(const std::u16string& Path) = 0;
  // Whether a board with this ID can be served by the front; Why says why not.
  virtual bool AcceptsId(const std::string& Id, std::string& Why) = 0;
};

class TBoardRegistry {
 public:
  explicit TBoardRegistry(TBoardEvents& Events) : events_(Events) {}
  ~TBoardRegistry();
  TBoardRegistry(const TBoardRegistry&) = delete;
  TBoardRegistry& operator=(const TBoardRegistry&) = delete;

  // Binds the HID layer and walks the devices present: every board found is announced.
  void Start();
  // Looks for devices that came or went (also where the platform sends no notice), and
  // tries again boards refused before: a node may become usable without any change.
  void Rescan();
  // Reads every served board; one given another ID meanwhile is served under the new one.
  void RefreshStates();
  // Frees every board and the controller; nothing is announced.
  void Stop() noexcept;

  // The controller's message descriptor and its pump, for the front's event loop.
  int MessageFd() const;
  void ProcessMessages();
  hid::THidDeviceController* Controller() const { return controller_.get(); }

  TRelayBoard* Find(const std::string& Id);
  bool IsShared(const std::string& Id) const { return sharedIds_.contains(Id); }
  std::size_t Count() const { return boards_.size(); }
  const std::map<std::string, TRelayBoard>& Boards() const { return boards_; }

 private:
  bool OnEnumerate(hid::THidDevice* HidDev, std::int32_t Idx);
  void OnDeviceChange(hid::TLayerComponent* Sender);
  void OnUnplug(hid::THidDevice* HidDev);
  void OnCreateError(hid::THidDeviceController* Controller, hid::THidPnPInfo* PnPInfo,
                     bool& Handled, bool& RetryCreate);
  void Adopt();
  void Refuse(const TRelayBoard& Board, const std::string& Why);
  void Forget(const std::string& Id, bool Unplugged);

  TBoardEvents& events_;
  std::unique_ptr<hid::THidDeviceController> controller_;
  std::map<std::string, TRelayBoard> boards_;  // served, by ID; devices checked out
  std::vector<TRelayBoard> found_;             // found and read by the current walk
  std::set<std::string> sharedIds_;            // held by two boards or more
  std::set<std::uint32_t> warned_;             // plug-ins refused and told
  std::set<std::uint32_t> refusedNow_;         // those refused by the current walk
  std::set<std::u16string> skipped_;           // paths of devices that cannot be identified
};

}  // namespace quorvel::relay
