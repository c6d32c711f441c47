#include "platform/posix/HandleTable.h"

#include <mutex>
#include <unordered_map>

namespace quorvel::posix {
namespace {

struct TTable {
  std::mutex Lock;
  std::unordered_map<std::uintptr_t, THandleEntry> Entries;
  std::uintptr_t Last = 0;
};

TTable& Table() {
  static TTable table;
  return table;
}

}  // namespace

HANDLE AddHandle(THandleEntry entry) {
  TTable& table = Table();
  std::lock_guard lock(table.Lock);
  table.Last += 4;
  table.Entries.emplace(table.Last, std::move(entry));
  return reinterpret_cast<HANDLE>(table.Last);
}

THandleEntry FindHandle(HANDLE handle) {
  TTable& table = Table();
  std::lock_guard lock(table.Lock);
  const auto found = table.Entries.find(reinterpret_cast<std::uintptr_t>(handle));
  return found != table.Entries.end() ? found->second : THandleEntry{};
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<TFileObject> released;  // freed after the lock is dropped
  TTable& table = Table();
  std::lock_guard lock(table.Lock);
  const auto found = table.Entries.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == table.Entries.end()) {
    return false;
  }
  released = std::move(found->second.Object);
  table.Entries.erase(found);
  return true;
}

std::shared_ptr<TFileObject> ObjectFromHandle(HANDLE handle) {
  return FindHandle(handle).Object;
}

}  // namespace quorvel::posix
