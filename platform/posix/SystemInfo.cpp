// The last error and the platform version.
#include <cstring>

#include "platform/posix/Kernel.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}  // namespace

extern "C" {

DWORD GetLastError(void) {
  return tLastError;
}

void SetLastError(DWORD dwErrCode) {
  tLastError = dwErrCode;
}

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // The layer's conditional rows test for NT 5.0 and 5.1; every platform
  // function it may look up exists here, so report the current NT.
  std::memset(reinterpret_cast<char*>(lpVersionInformation) + sizeof(DWORD), 0,
              size - sizeof(DWORD));
  lpVersionInformation->dwMajorVersion = 10;
  lpVersionInformation->dwMinorVersion = 0;
  lpVersionInformation->dwBuildNumber = 0;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

}  // extern "C"
