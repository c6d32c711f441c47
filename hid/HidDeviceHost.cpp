#include "hid/HidDeviceHost.h"

#include "hid/HidDevice.h"

namespace quorvel::hid {

THidDeviceHost::THidDeviceHost() = default;

THidDeviceHost::~THidDeviceHost() {
  for (auto& entry : list_) {
    entry->myController_ = nullptr;
  }
  list_.clear();
}

int32_t THidDeviceHost::IndexOf(const THidDevice* device) const {
  for (std::size_t i = 0; i < list_.size(); ++i) {
    if (list_[i].get() == device) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

int32_t& THidDeviceHost::CounterOf(const THidDevice& device) {
  if (!device.FIsPluggedIn) {
    return FNumUnpluggedDevices;
  }
  return device.FIsCheckedOut ? FNumCheckedOutDevices : FNumCheckedInDevices;
}

bool THidDeviceHost::TryCheckOut(THidDevice& device, THidDevice*& HidDev) {
  // A free entry is plugged in between operations, but inside OnUnplug and
  // OnRemoval the vanished device is still listed, free and unplugged.
  if (device.FIsCheckedOut || !device.FIsPluggedIn) {
    return false;
  }
  HidDev = &device;
  device.SetCheckedOut(true);
  device.StartReadThread();
  return true;
}

}  // namespace quorvel::hid
