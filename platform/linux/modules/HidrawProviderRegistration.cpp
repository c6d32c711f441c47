// Registers the hidraw file provider while the HID module is loaded. The module is linked
// not to be unloaded (-z nodelete), so a file object that outlives the binding keeps its
// code.
#include "platform/linux/modules/HidrawFile.h"

namespace quorvel::hidraw {
namespace {

struct TRegistration {
  THidrawProvider Provider;
  TRegistration() { posix::RegisterFileProvider(&Provider); }
  ~TRegistration() { posix::UnregisterFileProvider(&Provider); }
  TRegistration(const TRegistration&) = delete;
  TRegistration& operator=(const TRegistration&) = delete;
};

const TRegistration gRegistration;

}  // namespace
}  // namespace quorvel::hidraw
