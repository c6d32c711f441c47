#include <windows.h>

#include <string>

#include "platform/FileIdentity.h"
#include "platform/Utf.h"

namespace quorvel::platform {
namespace {

std::wstring Wide(std::u16string_view path) {
  return {path.begin(), path.end()};
}

// The full path the system makes of Path ("." and ".." resolved, separators unified);
// empty when it cannot.
std::u16string FullPath(std::u16string_view path) {
  const std::wstring wide = Wide(path);
  if (wide.find(L'\0') != std::wstring::npos) {
    return {};
  }
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return {};
  }
  std::wstring full(needed, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) {
    return {};
  }
  full.resize(written);
  return {full.begin(), full.end()};
}

}  // namespace

bool FileExists(std::u16string_view Path) {
  const std::wstring wide = Wide(Path);
  return wide.find(L'\0') == std::wstring::npos &&
         GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Device interface paths cannot be opened as files to compare their identities, so two
// names are the same when their full paths are, in any case.
bool SameFile(std::u16string_view A, std::u16string_view B) {
  const std::u16string a = FullPath(A);
  const std::u16string b = FullPath(B);
  return !a.empty() && EqualsIgnoringAsciiCase(a, b);
}

}  // namespace quorvel::platform
