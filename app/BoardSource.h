// What the tool's roads need from board discovery and switching.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/RelayRequest.h"
#include "app/RelaySwitching.h"

namespace quorvel::app {

class BoardSource {
 public:
  virtual ~BoardSource() = default;

  // Finds the HID devices present: the listing lines and the relay boards in
  // discovery order, board 1 first.
  virtual void CreateController() = 0;
  // Releases all CreateController made, also after it failed half way.
  virtual void FreeController() noexcept = 0;

  virtual const std::vector<std::u16string>& DeviceLines() const = 0;
  virtual std::int32_t BoardCount() const = 0;

  // Applies the request to board Request.ID, which must lie in 1 to
  // BoardCount(), and tells how it went and the board's resulting state.
  virtual TSwitchResult SwitchRelays(const TRelayRequest& Request) = 0;
};

}  // namespace quorvel::app
