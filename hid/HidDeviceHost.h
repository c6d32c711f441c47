// What a device needs of the controller whose list holds it: the defaults that
// new devices take over, the device list and its three counters. The controller
// derives from it; a device reaches it through its myController_.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "hid/HidEvents.h"

namespace quorvel::hid {

class THidDeviceHost {
 public:
  THidDeviceHost(const THidDeviceHost&) = delete;
  THidDeviceHost& operator=(const THidDeviceHost&) = delete;

 protected:
  THidDeviceHost();
  // Frees what is still listed, detached first so that no device touches the
  // list while it goes. The controller empties the list itself in its own order.
  ~THidDeviceHost();

  // The list position of `device`, or -1.
  int32_t IndexOf(const THidDevice* device) const;
  // The counter a listed device stands in: unplugged, else checked out or in.
  int32_t& CounterOf(const THidDevice& device);
  // Checks a listed, plugged-in, free device out and starts its read thread;
  // `HidDev` receives it. False, and nothing changes, for any other.
  bool TryCheckOut(THidDevice& device, THidDevice*& HidDev);

  int32_t FDevPollingDelayTime = 0;
  int32_t FDevThreadSleepTime = 100;
  THidDataEvent FOnDeviceData;
  THidDataErrorEvent FOnDeviceDataError;
  THidPlugEvent FOnDeviceUnplug;

  // The list owns its entries. A device that the application frees takes itself
  // out of (or replaces itself in) this list from its destructor.
  std::vector<std::unique_ptr<THidDevice>> list_;
  int32_t FNumCheckedInDevices = 0;
  int32_t FNumCheckedOutDevices = 0;
  int32_t FNumUnpluggedDevices = 0;

  friend class THidDevice;
  friend class THidDeviceController;
  friend class TDeviceCallbackScope;
};

}  // namespace quorvel::hid
