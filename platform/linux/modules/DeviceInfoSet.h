// A device-information set: the snapshot of the present HID interfaces that
// SetupDiGetClassDevsW hands out, and the table of sets not yet destroyed, so that a
// stale or made-up HDEVINFO is refused instead of followed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/modules/DeviceProperties.h"
#include "platform/linux/modules/HidrawNode.h"
#include "platform/linux/modules/Sysfs.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

struct TInterfaceEntry {
  THidrawNode Node;
  std::u16string Path;  // the device node, for CreateFileW
  TPropertyTable Properties;
};

class TDeviceInfoSet {
 public:
  explicit TDeviceInfoSet(std::vector<TInterfaceEntry> entries);

  std::size_t Count() const { return entries_.size(); }
  const TInterfaceEntry& At(std::size_t index) const { return *entries_[index]; }
  // The value the set's records carry in their Reserved field for an entry, and back: null
  // for a value that is none of this set's entries (a record of another set, or garbage).
  ULONG_PTR Token(std::size_t index) const;
  const TInterfaceEntry* FromToken(ULONG_PTR token) const;

 private:
  // Stable addresses: the tokens are the entries' addresses.
  std::vector<std::unique_ptr<TInterfaceEntry>> entries_;
};

// The present HID interfaces, in order of hidraw minor number.
std::unique_ptr<TDeviceInfoSet> SnapshotHidInterfaces(const TSysfs& sysfs);

// The live sets. A lookup shares ownership, so that a set destroyed by one thread stays
// valid for a call that another thread has in progress.
HDEVINFO AdoptSet(std::unique_ptr<TDeviceInfoSet> set);
std::shared_ptr<const TDeviceInfoSet> FindSet(HDEVINFO handle);
bool DestroySet(HDEVINFO handle);

}  // namespace quorvel::hidraw
