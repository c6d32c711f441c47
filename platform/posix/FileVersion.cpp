// Version information of the project's own modules. The modules are built with
// the tool from one tree, so their version is the project's; a module counts
// as present when it is loaded or lies where the dynamic loader would find it
// (LD_LIBRARY_PATH, then the executable's folder and the install's library
// folder, as the run path says).
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Utf.h"
#include "platform/posix/LinuxOnly.h"
#include "platform/posix/OwnModules.h"

namespace {

constexpr char kMagic[8] = {'Q', 'V', 'E', 'R', 'S', 'I', 'O', 'N'};
constexpr DWORD kTranslation = 0x04E40409;  // language 0x0409, code page 0x04E4 (1252)

// The block VerQueryValueW reads; its layout is this library's own.
struct TVersionBlock {
  char Magic[8];
  VS_FIXEDFILEINFO Fixed;
  DWORD Translation;
  WCHAR FileVersion[32];
  WCHAR ProductVersion[32];
  WCHAR ProductName[16];
};

#define QUORVEL_STRINGIZE2(x) #x
#define QUORVEL_STRINGIZE(x) QUORVEL_STRINGIZE2(x)
constexpr char16_t kVersionText[] =
    u"" QUORVEL_STRINGIZE(QUORVEL_VERSION_MAJOR) "." QUORVEL_STRINGIZE(
        QUORVEL_VERSION_MINOR) "." QUORVEL_STRINGIZE(QUORVEL_VERSION_PATCH) ".0";

bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::string Directory(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool ModulePresent(const std::string& file) {
  if (void* loaded = dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    dlclose(loaded);
    return true;
  }
  if (file.find('/') != std::string::npos) {
    return FileExists(file);
  }
  if (const char* paths = std::getenv("LD_LIBRARY_PATH")) {
    std::string list = paths;
    for (std::size_t start = 0; start <= list.size();) {
      const std::size_t end = std::min(list.find(':', start), list.size());
      const std::string dir = list.substr(start, end - start);
      if (!dir.empty() && FileExists(dir + "/" + file)) {
        return true;
      }
      start = end + 1;
    }
  }
  if (const std::string exe = quorvel::posix::OwnExecutablePath(); !exe.empty()) {
    const std::string dir = Directory(exe);
    return FileExists(dir + "/" + file) || FileExists(dir + "/" QUORVEL_MODULES_FROM_BIN "/" + file);
  }
  return false;
}

// The own module a version query names: a platform name, or a module file
// with or without its folder.
bool NamesOwnModule(LPCWSTR name) {
  if (name == nullptr) {
    return false;
  }
  const std::u16string_view text(name);
  const char* file = quorvel::posix::OwnModuleFile(text);
  std::string path = file != nullptr ? file : quorvel::platform::Utf16ToUtf8(text);
  const std::string base = path.substr(path.rfind('/') + 1);
  if (base != "libquorvel-setupapi.so" && base != "libquorvel-hid.so") {
    return false;
  }
  return ModulePresent(path);
}

void CopyText(WCHAR* to, std::size_t capacity, std::u16string_view text) {
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.begin(), n, to);
  to[n] = u'\0';
}

}  // namespace

namespace quorvel::posix {

const char* OwnModuleFile(std::u16string_view platformName) {
  if (quorvel::platform::EqualsIgnoringAsciiCase(platformName, u"SetupApi.dll")) {
    return "libquorvel-setupapi.so";
  }
  if (quorvel::platform::EqualsIgnoringAsciiCase(platformName, u"HID.dll")) {
    return "libquorvel-hid.so";
  }
  return nullptr;
}

}  // namespace quorvel::posix

extern "C" {

DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle != nullptr) {
    *lpdwHandle = 0;
  }
  if (!NamesOwnModule(lptstrFilename)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return sizeof(TVersionBlock);
}

BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!NamesOwnModule(lptstrFilename)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (dwLen < sizeof(TVersionBlock)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  TVersionBlock block{};
  std::memcpy(block.Magic, kMagic, sizeof(kMagic));
  block.Fixed.dwSignature = 0xFEEF04BD;
  block.Fixed.dwStrucVersion = 0x00010000;
  block.Fixed.dwFileVersionMS = (QUORVEL_VERSION_MAJOR << 16) | QUORVEL_VERSION_MINOR;
  block.Fixed.dwFileVersionLS = QUORVEL_VERSION_PATCH << 16;
  block.Fixed.dwProductVersionMS = block.Fixed.dwFileVersionMS;
  block.Fixed.dwProductVersionLS = block.Fixed.dwFileVersionLS;
  block.Fixed.dwFileType = 2;  // VFT_DLL
  block.Translation = kTranslation;
  CopyText(block.FileVersion, std::size(block.FileVersion), kVersionText);
  CopyText(block.ProductVersion, std::size(block.ProductVersion), kVersionText);
  CopyText(block.ProductName, std::size(block.ProductName), u"Quorvel");
  std::memcpy(lpData, &block, sizeof(block));
  return TRUE;
}

// Sub-blocks: "\" (VS_FIXEDFILEINFO), "\VarFileInfo\Translation", and
// "\StringFileInfo\040904E4\<name>" (or 040904B0) for FileVersion,
// ProductVersion and ProductName; the leading backslash may be left out.
BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr ||
      std::memcmp(pBlock, kMagic, sizeof(kMagic)) != 0) {
    return FALSE;
  }
  auto* block = static_cast<TVersionBlock*>(const_cast<void*>(pBlock));
  std::u16string_view path(lpSubBlock);
  if (!path.empty() && path.front() == u'\\') {
    path.remove_prefix(1);
  }
  void* value = nullptr;
  UINT length = 0;
  auto text = [&](WCHAR* field) {
    value = field;
    length = static_cast<UINT>(std::char_traits<char16_t>::length(field) + 1);
  };
  if (path.empty()) {
    value = &block->Fixed;
    length = sizeof(block->Fixed);
  } else if (quorvel::platform::EqualsIgnoringAsciiCase(path, u"VarFileInfo\\Translation")) {
    value = &block->Translation;
    length = sizeof(block->Translation);
  } else {
    constexpr std::u16string_view kTables[] = {u"StringFileInfo\\040904E4\\",
                                               u"StringFileInfo\\040904B0\\"};
    for (std::u16string_view table : kTables) {
      if (path.size() > table.size() &&
          quorvel::platform::EqualsIgnoringAsciiCase(path.substr(0, table.size()), table)) {
        const std::u16string_view name = path.substr(table.size());
        if (quorvel::platform::EqualsIgnoringAsciiCase(name, u"FileVersion")) {
          text(block->FileVersion);
        } else if (quorvel::platform::EqualsIgnoringAsciiCase(name, u"ProductVersion")) {
          text(block->ProductVersion);
        } else if (quorvel::platform::EqualsIgnoringAsciiCase(name, u"ProductName")) {
          text(block->ProductName);
        }
      }
    }
  }
  if (value == nullptr) {
    return FALSE;
  }
  *lplpBuffer = value;
  if (puLen != nullptr) {
    *puLen = length;
  }
  return TRUE;
}

}  // extern "C"
