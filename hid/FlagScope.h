// Scopes that hold for the length of a callback, whatever ends it: a handler's
// error must not leave a device usable, a handle open or a re-entry guard closed.
#pragma once

#include "hid/HidDevice.h"

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
// callback runs; afterwards, when `closeFree`, a device that was not checked out
// in the callback has its handles closed again.
class TDeviceCallbackScope {
 public:
  TDeviceCallbackScope(THidDevice& device, std::atomic<bool>& enumerated, bool closeFree)
      : device_(device), enumerated_(enumerated), closeFree_(closeFree) {}
  ~TDeviceCallbackScope() {
    if (closeFree_ && !device_.IsCheckedOut()) {
      device_.CloseAll();
    }
  }
  TDeviceCallbackScope(const TDeviceCallbackScope&) = delete;
  TDeviceCallbackScope& operator=(const TDeviceCallbackScope&) = delete;

 private:
  THidDevice& device_;
  TFlagScope<std::atomic<bool>> enumerated_;
  bool closeFree_;
};

}  // namespace quorvel::hid
