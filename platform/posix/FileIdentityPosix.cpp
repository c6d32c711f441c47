#include <sys/stat.h>

#include "platform/FileIdentity.h"
#include "platform/Utf.h"

namespace quorvel::platform {
namespace {

bool StatOf(std::u16string_view path, struct stat& info) {
  const std::string native = Utf16ToUtf8(path);
  // A path with a NUL inside would name a shorter one.
  return native.find('\0') == std::string::npos && ::stat(native.c_str(), &info) == 0;
}

}  // namespace

bool FileExists(std::u16string_view Path) {
  struct stat info {};
  return StatOf(Path, info);
}

bool SameFile(std::u16string_view A, std::u16string_view B) {
  struct stat a {};
  struct stat b {};
  if (!StatOf(A, a) || !StatOf(B, b)) {
    return false;
  }
  // Two nodes of one device are the same device wherever they were made.
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) {
    return a.st_rdev == b.st_rdev;
  }
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace quorvel::platform
