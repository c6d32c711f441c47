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
// callback runs, and its handles closed again afterwards as `after` says. The
// callback may free the device (an application gives a device back by deleting
// it): a device no longer listed is left alone.
class TDeviceCallbackScope {
 public:
  enum class TAfter {
    KeepHandles,
    CloseUnlessCheckedOut,
    CloseUnlessKept,  // unless Keep() was called, even when checked out meanwhile
  };

  TDeviceCallbackScope(const THidDeviceHost& host, THidDevice& device,
                       std::atomic<bool>& enumerated, TAfter after)
      : host_(host), device_(device), enumerated_(enumerated), after_(after) {
    enumerated_ = true;
  }
  ~TDeviceCallbackScope() {
    if (host_.IndexOf(&device_) < 0) {
      return;
    }
    enumerated_ = false;
    if ((after_ == TAfter::CloseUnlessCheckedOut && !device_.IsCheckedOut()) ||
        (after_ == TAfter::CloseUnlessKept && !kept_)) {
      device_.CloseAll();
    }
  }
  TDeviceCallbackScope(const TDeviceCallbackScope&) = delete;
  TDeviceCallbackScope& operator=(const TDeviceCallbackScope&) = delete;

  void Keep() { kept_ = true; }

 private:
  const THidDeviceHost& host_;
  THidDevice& device_;
  std::atomic<bool>& enumerated_;
  TAfter after_;
  bool kept_ = false;
};

}  // namespace quorvel::hid
