// A completion routine that records its call in the TCompletion its OVERLAPPED's hEvent
// points to, for the tests of overlapped reads.
#pragma once

#include "wintypes/WinTypes.h"

namespace quorvel::posix::test {

struct TCompletion {
  int Calls = 0;
  DWORD Error = 0xFFFFFFFF;  // no call recorded yet
  DWORD Bytes = 0;
};

inline void WINAPI Record(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  auto* completion = static_cast<TCompletion*>(overlapped->hEvent);
  ++completion->Calls;
  completion->Error = error;
  completion->Bytes = bytes;
}

}  // namespace quorvel::posix::test
