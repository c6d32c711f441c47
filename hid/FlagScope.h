// Scopes that hold for the length of a callback, whatever ends it: a handler's
// error must not leave a device usable, a handle open or a re-entry guard closed.
#pragma once

#include <atomic>

#include "hid/HidDevice.h"
#include "hid/HidDeviceHost.h"

namespace quorvel::hid {

// Sets a flag (a bool or an atomic one) for the length of a scope.
template <typename TFlag>
class TFlagScope {
 public:
  explicit TFlagScope(TFlag& flag) : flag_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  TFlag& flag_;
};

// Hands a device to a callback: usable through its enumeration flag while the
// callback runs, and its handles closed again afterwards unless it is checked
// out (also when checked out in the callback: its read thread may be using them
// already). The callback may free the device (an application gives a device
// back by deleting it): a device freed is left alone.
class TDeviceCallbackScope {
 public:
  TDeviceCallbackScope(const THidDeviceHost& host, THidDevice& device)
      : host_(host), watch_(&device) {
    device.isEnumerated_ = true;
  }
  ~TDeviceCallbackScope() {
    THidDevice* device = watch_.Device();
    if (device == nullptr) {
      return;
    }
    device->isEnumerated_ = false;
    if (host_.IndexOf(device) >= 0 && !device->IsCheckedOut()) {
      device->CloseAll();
    }
  }
  TDeviceCallbackScope(const TDeviceCallbackScope&) = delete;
  TDeviceCallbackScope& operator=(const TDeviceCallbackScope&) = delete;

 private:
  const THidDeviceHost& host_;
  TDeviceWatch watch_;
};

}  // namespace quorvel::hid
