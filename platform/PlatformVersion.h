// The platform identifier and version the operating system reports, which
// decide the conditional rows of the HID table.
#pragma once

#include <optional>

#include "wintypes/WinTypes.h"

namespace quorvel::platform {

struct TPlatformVersion {
  DWORD PlatformId = 0;  // VER_PLATFORM_WIN32_NT (2) for the NT family
  DWORD Major = 0;
  DWORD Minor = 0;
};

// GetVersionExW, asked once per process (POSIX reports NT 10.0), unless a test
// substituted a version.
TPlatformVersion ReportedPlatformVersion();

// True when the reported platform is NT and its version is at least major.minor.
bool PlatformAtLeast(DWORD major, DWORD minor);

// Substitutes the reported version until called with std::nullopt.
void SetPlatformVersionForTest(std::optional<TPlatformVersion> version);

}  // namespace quorvel::platform
