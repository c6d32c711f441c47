// Sets a flag for the length of a scope, whatever ends the scope: a handler's
// error must not leave a device usable or a re-entry guard closed.
#pragma once

namespace quorvel::hid {

class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace quorvel::hid
