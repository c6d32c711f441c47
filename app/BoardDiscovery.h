// Board discovery through the HID device controller: one listing line per HID
// device, and the relay boards checked out in discovery order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/BoardSource.h"
#include "hid/HidControllerClass.h"

namespace quorvel::app {

// The tool's discovery state. The controller calls the handlers below with no
// object bound, so they work on these; one run has one discovery.
extern std::unique_ptr<hid::THidDeviceController> HidController;
extern std::vector<std::u16string> DeviceLines;
extern std::vector<hid::THidDevice*> RelayBoards;  // borrowed from HidController

// Creates the controller and scans: on return DeviceLines and RelayBoards
// describe the devices present.
void CreateController();
// Frees the controller, and with it every device and board; empties the lists.
void FreeController() noexcept;

// The controller's handlers. Handlers take the bound object first; none is bound.
bool OnHidEnumerate(void* Target, hid::THidDevice* HidDev, std::int32_t Idx);
void OnHidDeviceChange(void* Target, hid::TLayerComponent* Sender);

// A device's line in the listing; control characters of the name show as U+FFFD.
std::u16string DeviceLine(const std::u16string& ProductName, std::uint16_t VendorID,
                          std::uint16_t ProductID);
// Relay boards are the devices whose product name begins with this.
bool IsRelayBoard(const std::u16string& ProductName);

// The roads' view of the above.
class BoardDiscovery final : public BoardSource {
 public:
  void CreateController() override { app::CreateController(); }
  void FreeController() noexcept override { app::FreeController(); }
  const std::vector<std::u16string>& DeviceLines() const override { return app::DeviceLines; }
  std::int32_t BoardCount() const override {
    return static_cast<std::int32_t>(app::RelayBoards.size());
  }
  TSwitchResult SwitchRelays(const TRelayRequest& Request) override;
};

}  // namespace quorvel::app
