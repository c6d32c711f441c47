#include "hid/HidDeviceHost.h"

#include "hid/HidDevice.h"

namespace quorvel::hid {

THidDeviceHost::THidDeviceHost() = default;

THidDeviceHost::~THidDeviceHost() {
  for (auto& entry : FList) {
    entry->FMyController = nullptr;
  }
  FList.clear();
}

int32_t THidDeviceHost::IndexOf(const THidDevice* device) const {
  for (std::size_t i = 0; i < FList.size(); ++i) {
    if (FList[i].get() == device) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

}  // namespace quorvel::hid
