#include "platform/PlatformVersion.h"

#ifndef _WIN32
#include "platform/posix/Kernel.h"
#endif

namespace quorvel::platform {
namespace {

std::optional<TPlatformVersion>& VersionForTest() {
  static std::optional<TPlatformVersion> version;
  return version;
}

TPlatformVersion AskPlatform() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExW(&info)) {
    return {};  // nothing known: only the unconditional rows are looked up
  }
  return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace

TPlatformVersion ReportedPlatformVersion() {
  if (VersionForTest()) {
    return *VersionForTest();
  }
  static const TPlatformVersion reported = AskPlatform();
  return reported;
}

bool PlatformAtLeast(DWORD major, DWORD minor) {
  const TPlatformVersion version = ReportedPlatformVersion();
  return version.PlatformId == VER_PLATFORM_WIN32_NT &&
         (version.Major > major || (version.Major == major && version.Minor >= minor));
}

void SetPlatformVersionForTest(std::optional<TPlatformVersion> version) {
  VersionForTest() = version;
}

}  // namespace quorvel::platform
