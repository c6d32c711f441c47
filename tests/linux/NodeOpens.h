// The test's view of a handle's node: how often this process has it open, and
// CreateFileW as the HID layer calls it.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/Utf.h"
#include "platform/posix/Kernel.h"

namespace quorvel::hidraw::test {

// Descriptors of this process open on the file.
inline int OpenCount(const std::string& file) {
  struct stat wanted {};
  if (::stat(file.c_str(), &wanted) != 0) {
    return -1;
  }
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    struct stat info {};
    if (::stat(entry.path().c_str(), &info) == 0 && info.st_dev == wanted.st_dev &&
        info.st_ino == wanted.st_ino) {
      ++count;
    }
  }
  return count;
}

inline HANDLE Open(const std::string& file, DWORD access, DWORD flags = 0) {
  const std::u16string path = platform::Utf8ToUtf16(file);
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

}  // namespace quorvel::hidraw::test
