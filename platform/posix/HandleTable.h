// The process's one handle table (internal to libquorvel-posix.so).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/posix/FileProvider.h"

namespace quorvel::posix {

struct THandleEntry {
  std::shared_ptr<TFileObject> Object;
  DWORD DesiredAccess = 0;
  DWORD FlagsAndAttributes = 0;
  bool Overlapped() const { return (FlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0; }
};

// Handle values are multiples of 4 counting up from 4 and never reused, so a
// stale handle is always recognised as closed.
HANDLE AddHandle(THandleEntry entry);
// A copy of the entry; Object is null for a handle that is not open.
THandleEntry FindHandle(HANDLE handle);
// Removes the entry; false when the handle was not open.
bool RemoveHandle(HANDLE handle);

}  // namespace quorvel::posix
