// Board discovery through the HID device controller: one listing line per HID
// device, and the relay boards checked out in discovery order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidControllerClass.h"
#include "relay/RelayBoard.h"

namespace quorvel::relay {

// One discovery: the controller, the listing and the boards, with the controller's
// handlers bound to it.
class TBoardDiscovery {
 public:
  TBoardDiscovery() = default;
  ~TBoardDiscovery() { FreeController(); }
  TBoardDiscovery(const TBoardDiscovery&) = delete;
  TBoardDiscovery& operator=(const TBoardDiscovery&) = delete;

  // Creates the controller and scans: on return DeviceLines and RelayBoards
  // describe the devices present.
  void CreateController();
  // Frees the controller, and with it every device and board; empties the lists.
  void FreeController() noexcept;

  hid::THidDeviceController* HidController() const { return hidController_.get(); }
  const std::vector<std::u16string>& DeviceLines() const { return deviceLines_; }
  // Board 1 first; their devices are borrowed from HidController.
  const std::vector<TRelayBoard>& RelayBoards() const { return relayBoards_; }
  std::vector<TRelayBoard>& RelayBoards() { return relayBoards_; }

  // Why no device can be found, when the platform's modules could not be bound; empty
  // otherwise.
  const std::string& BindingFailure() const { return bindingFailure_; }

  // The paths of the HID devices that could not be identified during the scans: they are
  // left out, so that one odd device does not keep the boards from being used.
  const std::vector<std::u16string>& SkippedDevices() const { return skippedDevices_; }

  // The controller's handlers.
  bool OnHidEnumerate(hid::THidDevice* HidDev, std::int32_t Idx);
  void OnHidDeviceChange(hid::TLayerComponent* Sender);
  void OnHidDeviceCreateError(hid::THidDeviceController* Controller, hid::THidPnPInfo* PnPInfo,
                              bool& Handled, bool& RetryCreate);

 private:
  std::unique_ptr<hid::THidDeviceController> hidController_;
  std::vector<std::u16string> deviceLines_;
  std::vector<TRelayBoard> relayBoards_;
  std::vector<std::u16string> skippedDevices_;
  std::string bindingFailure_;
};

// A device's line in the listing; control characters of the name show as U+FFFD.
std::u16string DeviceLine(const std::u16string& ProductName, std::uint16_t VendorID,
                          std::uint16_t ProductID);

}  // namespace quorvel::relay
