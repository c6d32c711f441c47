// Board discovery until the HID layer is in place: a source that finds no
// device at all, so the relay road ends in the board-count message. Replaced
// by the discovery through the HID device controller.
#pragma once

#include "app/BoardSource.h"

namespace quorvel::app {

class BoardDiscovery final : public BoardSource {
 public:
  void CreateController() override;
  void FreeController() noexcept override;
  const std::vector<std::u16string>& DeviceLines() const override { return deviceLines_; }
  std::int32_t BoardCount() const override { return 0; }
  // Throws std::out_of_range: there is no board to switch.
  std::uint8_t SwitchRelays(const TRelayRequest& Request) override;

 private:
  std::vector<std::u16string> deviceLines_;
};

}  // namespace quorvel::app
