// The kernel functions the layer calls directly (CreateFileW, CloseHandle,
// GetLastError, GetLocaleInfoW, the file-version functions): the system's own on
// Windows, libquorvel-posix elsewhere. The one place that picks for the layer.
#pragma once

#include "wintypes/WinTypes.h"

#ifdef _WIN32
#include <winver.h>
#else
#include "platform/posix/Kernel.h"
#endif

namespace quorvel::platform {

// CancelIo from the already loaded kernel module; nullptr where it is missing.
using TCancelIo = BOOL(WINAPI*)(HANDLE);
inline TCancelIo CancelIoEntry() {
#ifdef _WIN32
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel == nullptr ? nullptr
                           : reinterpret_cast<TCancelIo>(
                                 reinterpret_cast<void*>(::GetProcAddress(kernel, "CancelIo")));
#else
  return &::CancelIo;
#endif
}

}  // namespace quorvel::platform
