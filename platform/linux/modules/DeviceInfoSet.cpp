#include "platform/linux/modules/DeviceInfoSet.h"

#include <map>
#include <mutex>

#include "platform/Utf.h"

namespace quorvel::hidraw {

TDeviceInfoSet::TDeviceInfoSet(std::vector<TInterfaceEntry> entries) {
  entries_.reserve(entries.size());
  for (auto& entry : entries) {
    entries_.push_back(std::make_unique<TInterfaceEntry>(std::move(entry)));
  }
}

ULONG_PTR TDeviceInfoSet::Token(std::size_t index) const {
  return reinterpret_cast<ULONG_PTR>(entries_[index].get());
}

const TInterfaceEntry* TDeviceInfoSet::FromToken(ULONG_PTR token) const {
  for (const auto& entry : entries_) {
    if (reinterpret_cast<ULONG_PTR>(entry.get()) == token) {
      return entry.get();
    }
  }
  return nullptr;
}

std::unique_ptr<TDeviceInfoSet> SnapshotHidInterfaces(const TSysfs& sysfs) {
  std::vector<TInterfaceEntry> entries;
  for (THidrawNode& node : ListNodes(sysfs)) {
    TInterfaceEntry entry;
    entry.Path = platform::Utf8ToUtf16(node.DevNode);
    entry.Properties = DeviceProperties(sysfs, node);
    entry.Node = std::move(node);
    entries.push_back(std::move(entry));
  }
  return std::make_unique<TDeviceInfoSet>(std::move(entries));
}

namespace {

// The module's one table of live sets: an HDEVINFO is only ever a key into it.
struct TSetTable {
  std::mutex Lock;
  std::map<HDEVINFO, std::shared_ptr<const TDeviceInfoSet>> Sets;
};

TSetTable& Table() {
  static TSetTable table;
  return table;
}

}  // namespace

HDEVINFO AdoptSet(std::unique_ptr<TDeviceInfoSet> set) {
  std::shared_ptr<const TDeviceInfoSet> shared(std::move(set));
  HDEVINFO handle = const_cast<TDeviceInfoSet*>(shared.get());
  TSetTable& table = Table();
  std::lock_guard lock(table.Lock);
  table.Sets.emplace(handle, std::move(shared));
  return handle;
}

std::shared_ptr<const TDeviceInfoSet> FindSet(HDEVINFO handle) {
  TSetTable& table = Table();
  std::lock_guard lock(table.Lock);
  const auto found = table.Sets.find(handle);
  return found == table.Sets.end() ? nullptr : found->second;
}

bool DestroySet(HDEVINFO handle) {
  std::shared_ptr<const TDeviceInfoSet> doomed;
  TSetTable& table = Table();
  std::lock_guard lock(table.Lock);
  const auto found = table.Sets.find(handle);
  if (found == table.Sets.end()) {
    return false;
  }
  doomed = std::move(found->second);
  table.Sets.erase(found);
  return true;
}

}  // namespace quorvel::hidraw
