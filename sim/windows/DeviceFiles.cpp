// Windows: the layer opens interface paths with the real CreateFileW, so each device
// is a file in a folder of the world's own: present while the device can be opened,
// absent once it has vanished or refuses every open. While it opens only without
// access the file is read-only (a write access is refused with ERROR_ACCESS_DENIED)
// and the simulation holds it open without sharing, so that a read access is refused
// too (ERROR_SHARING_VIOLATION; also a write access where the read-only attribute does
// not bind, as for root under Wine); an open without access is not subject to sharing. The HID
// module maps a handle back to its device by the file's name and reads the handle's
// granted access.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/Utf.h"
#include "sim/HandleLookup.h"
#include "sim/WorldFile.h"

namespace quorvel::sim {
namespace {

constexpr std::u16string_view kInterfaceClass = u"#{4d1e55b2-f16f-11cf-88cb-001111000030}";

LPCWSTR Wide(const std::u16string& text) {
  return reinterpret_cast<LPCWSTR>(text.c_str());
}

std::u16string FileName(const TSimDevice& device) {
  char name[64];
  std::snprintf(name, sizeof name, "hid#vid_%04x&pid_%04x#%u", device.VendorId, device.ProductId,
                device.Instance);
  return platform::Utf8ToUtf16(name) + std::u16string(kInterfaceClass);
}

// Beside the world file when there is one, so successive processes share it; else a
// folder of this process in the temporary folder, removed when the process ends.
class TDeviceFolder {
 public:
  static TDeviceFolder& Instance() {
    static TDeviceFolder folder;
    return folder;
  }

  const std::u16string& Path() const { return path_; }

  // Each device's file in its wanted state; a change that fails is tried again at the
  // next publication (a file the layer holds open cannot be deleted until it closes).
  void Publish(const std::vector<std::shared_ptr<TSimDevice>>& devices) {
    std::map<std::u16string, int> wanted;
    for (const auto& device : devices) {
      const bool openable = !device->Gone() && device->Faults.Open != TOpenFault::Refused;
      wanted[FileName(*device)] =
          !openable ? kAbsent
                    : (device->Faults.Open == TOpenFault::MetadataOnly ? kReadOnly : kPresent);
    }
    for (const auto& [name, state] : published_) {
      if (wanted.count(name) == 0) {
        wanted[name] = kAbsent;
      }
    }
    for (const auto& [name, state] : wanted) {
      const auto it = published_.find(name);
      if ((it == published_.end() && state == kAbsent) ||
          (it != published_.end() && it->second == state)) {
        continue;
      }
      if (const auto held = held_.find(name); held != held_.end()) {
        CloseHandle(held->second);
        held_.erase(held);
      }
      if (Apply(path_ + u"\\" + name, state)) {
        if (state == kReadOnly) {
          Hold(name);
        }
        if (state == kAbsent) {
          published_.erase(name);
        } else {
          published_[name] = state;
        }
      }
    }
  }

  ~TDeviceFolder() {
    for (const auto& [name, handle] : held_) {
      CloseHandle(handle);
    }
    if (temporary_) {
      for (const auto& [name, state] : published_) {
        Apply(path_ + u"\\" + name, kAbsent);
      }
      RemoveDirectoryW(Wide(path_));
    }
  }
  TDeviceFolder(const TDeviceFolder&) = delete;
  TDeviceFolder& operator=(const TDeviceFolder&) = delete;

 private:
  enum { kAbsent, kPresent, kReadOnly };

  TDeviceFolder() {
    const char* world = std::getenv(kWorldVariable);
    if (world != nullptr && *world != '\0') {
      path_ = platform::Utf8ToUtf16(world) + u".devices";
    } else {
      wchar_t temporary[MAX_PATH + 1] = {};
      GetTempPathW(MAX_PATH + 1, temporary);
      path_ = reinterpret_cast<const char16_t*>(temporary) +
              platform::Utf8ToUtf16("quorvel-sim-" + std::to_string(GetCurrentProcessId()));
      temporary_ = true;
    }
    CreateDirectoryW(Wide(path_), nullptr);
  }

  void Hold(const std::u16string& name) {
    const HANDLE file = CreateFileW(Wide(path_ + u"\\" + name), GENERIC_READ, /*dwShareMode=*/0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      held_[name] = file;
    }
  }

  static bool Apply(const std::u16string& path, int state) {
    SetFileAttributesW(Wide(path), FILE_ATTRIBUTE_NORMAL);
    if (state == kAbsent) {
      return DeleteFileW(Wide(path)) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    const HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    CloseHandle(file);
    return state != kReadOnly || SetFileAttributesW(Wide(path), FILE_ATTRIBUTE_READONLY) != 0;
  }

  std::u16string path_;
  bool temporary_ = false;
  std::map<std::u16string, int> published_;
  std::map<std::u16string, HANDLE> held_;  // the read-only files, held without sharing
};

// What the handle was granted: FILE_READ_DATA and FILE_WRITE_DATA stand for the
// generic rights the layer asks for.
std::uint32_t GrantedAccess(HANDLE handle) {
  using TNtQueryObject = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<TNtQueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  PUBLIC_OBJECT_BASIC_INFORMATION info{};
  if (query == nullptr || query(handle, ObjectBasicInformation, &info, sizeof info, nullptr) != 0) {
    return 0;
  }
  std::uint32_t access = 0;
  if ((info.GrantedAccess & FILE_READ_DATA) != 0) {
    access |= GENERIC_READ;
  }
  if ((info.GrantedAccess & FILE_WRITE_DATA) != 0) {
    access |= GENERIC_WRITE;
  }
  return access;
}

}  // namespace

std::u16string DevicePath(const TSimDevice& device) {
  return TDeviceFolder::Instance().Path() + u"\\" + FileName(device);
}

void PublishDevices(const std::vector<std::shared_ptr<TSimDevice>>& devices) {
  TDeviceFolder::Instance().Publish(devices);
}

bool LookUpHandle(HANDLE handle, TSimHandle& out) {
  wchar_t path[1024] = {};
  const DWORD length = GetFinalPathNameByHandleW(handle, path, 1024, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= 1024) {
    return false;
  }
  std::u16string_view name(reinterpret_cast<const char16_t*>(path), length);
  name = name.substr(name.find_last_of(u'\\') + 1);
  auto& world = TWorld::Instance();
  const auto lock = world.Lock();
  for (const auto& device : world.Devices(lock)) {
    if (platform::EqualsIgnoringAsciiCase(FileName(*device), name)) {
      out = {device, GrantedAccess(handle)};
      return true;
    }
  }
  return false;
}

}  // namespace quorvel::sim
