#include "app/BoardDiscovery.h"

#include <stdexcept>
#include <string>

namespace quorvel::app {

void BoardDiscovery::CreateController() {
  deviceLines_.clear();
}

void BoardDiscovery::FreeController() noexcept {
  deviceLines_.clear();
}

std::uint8_t BoardDiscovery::SwitchRelays(const TRelayRequest& Request) {
  throw std::out_of_range("Relay board " + std::to_string(Request.ID) + " is not present");
}

}  // namespace quorvel::app
