// The device-installation functions the HID layer calls, over the simulated world. A
// device-information set is a snapshot of the world's interfaces when it was made,
// paths and registry properties included, so later changes to the world do not move
// a scan that is under way.
#ifdef _WIN32
#define _SETUPAPI_  // we define these functions rather than import them
#endif
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "sim/ModuleExport.h"
#include "sim/World.h"
#include "wintypes/WinTypes.h"

#ifndef _WIN32
#include "platform/SetupApiExportList.h"
#include "platform/posix/Kernel.h"
#endif

namespace quorvel::sim {
namespace {

// SetupAPI's own code for a property code it does not know.
constexpr DWORD kErrorInvalidRegProperty = 0xE0000209;

constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID kHidSetupClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

struct TDeviceInfoSet {
  std::vector<TInterfaceInfo> Interfaces;
};

// The open device-information sets of the process, by handle value.
class TDeviceInfoSets {
 public:
  static TDeviceInfoSets& Instance() {
    static TDeviceInfoSets sets;
    return sets;
  }

  HDEVINFO Add(std::unique_ptr<TDeviceInfoSet> set) {
    std::lock_guard lock(mutex_);
    const auto key = next_++;
    sets_[key] = std::move(set);
    return reinterpret_cast<HDEVINFO>(key);
  }

  // The set stays valid for the caller until SetupDiDestroyDeviceInfoList; a caller
  // that destroys a set while using it elsewhere breaks the platform's contract too.
  TDeviceInfoSet* Find(HDEVINFO handle) {
    std::lock_guard lock(mutex_);
    const auto it = sets_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == sets_.end() ? nullptr : it->second.get();
  }

  bool Remove(HDEVINFO handle) {
    std::lock_guard lock(mutex_);
    return sets_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
  }

 private:
  std::mutex mutex_;
  std::map<std::uintptr_t, std::unique_ptr<TDeviceInfoSet>> sets_;
  std::uintptr_t next_ = 0x5E70001;  // never 0 and never INVALID_HANDLE_VALUE
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The element a device-information record names: its Reserved field holds the
// element's position + 1, as this module filled it in.
const TInterfaceInfo* Element(const TDeviceInfoSet& set, const SP_DEVINFO_DATA& data) {
  const auto index = data.Reserved;
  if (index == 0 || index > set.Interfaces.size() ||
      set.Interfaces[index - 1].Instance != data.DevInst) {
    return nullptr;
  }
  return &set.Interfaces[index - 1];
}

void FillDevInfo(SP_DEVINFO_DATA& data, const TDeviceInfoSet& set, const TInterfaceInfo& element) {
  data.ClassGuid = kHidSetupClass;
  data.DevInst = element.Instance;
  data.Reserved = static_cast<ULONG_PTR>(&element - set.Interfaces.data()) + 1;
}

void PutUnits(std::vector<BYTE>& out, std::u16string_view units) {
  for (const char16_t unit : units) {
    out.push_back(static_cast<BYTE>(unit & 0xFF));
    out.push_back(static_cast<BYTE>(unit >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

// The value as the registry stores it: UTF-16LE text with its terminator, a list with
// one more terminator at its end, a little-endian number, or the bytes.
DWORD Encode(const TPropertyValue& value, std::vector<BYTE>& out) {
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    PutUnits(out, *text);
    return REG_SZ;
  }
  if (const auto* list = std::get_if<std::vector<std::u16string>>(&value)) {
    for (const auto& text : *list) {
      PutUnits(out, text);
    }
    out.push_back(0);
    out.push_back(0);
    return REG_MULTI_SZ;
  }
  if (const auto* number = std::get_if<std::uint32_t>(&value)) {
    for (int shift = 0; shift < 32; shift += 8) {
      out.push_back(static_cast<BYTE>(*number >> shift));
    }
    return REG_DWORD;
  }
  const auto& bytes = std::get<TBytes>(value);
  out.assign(bytes.begin(), bytes.end());
  return REG_BINARY;
}

}  // namespace
}  // namespace quorvel::sim

using namespace quorvel::sim;

// A new set of the HID interfaces of the world's devices, in discovery order: with
// DIGCF_PRESENT only those that have not vanished. Interface classes other than HID
// give an empty set. Enumerator filters are not supported (only "HID" or none).
QUORVEL_SIM_EXPORT HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator,
                                                        HWND, DWORD Flags) {
  constexpr DWORD kKnownFlags =
      DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;
  if ((Flags & ~kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return INVALID_HANDLE_VALUE;
  }
  if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (const auto error = TWorld::Instance().DeviceSetError()) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_unique<TDeviceInfoSet>();
  const std::u16string_view enumerator =
      Enumerator != nullptr ? std::u16string_view(reinterpret_cast<const char16_t*>(Enumerator))
                            : std::u16string_view();
  const bool hidEnumerator = enumerator.empty() || enumerator == u"HID" || enumerator == u"hid";
  const bool hidClass =
      (Flags & DIGCF_ALLCLASSES) != 0 ||
      ((Flags & DIGCF_DEVICEINTERFACE) != 0 && SameGuid(*ClassGuid, kHidInterfaceClass)) ||
      ((Flags & DIGCF_DEVICEINTERFACE) == 0 && SameGuid(*ClassGuid, kHidSetupClass));
  if (hidEnumerator && hidClass) {
    set->Interfaces = TWorld::Instance().Snapshot((Flags & DIGCF_PRESENT) != 0);
  }
  return TDeviceInfoSets::Instance().Add(std::move(set));
}

// The interface at MemberIndex (of the one element DeviceInfoData names, if given).
// ERROR_NO_MORE_ITEMS past the end; ERROR_INVALID_USER_BUFFER for a record whose
// cbSize is not this ABI's size.
QUORVEL_SIM_EXPORT BOOL WINAPI SetupDiEnumDeviceInterfaces(
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, const GUID* InterfaceClassGuid,
    DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  const auto* set = TDeviceInfoSets::Instance().Find(DeviceInfoSet);
  if (set == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  const TInterfaceInfo* element = nullptr;
  if (DeviceInfoData != nullptr) {
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    element = Element(*set, *DeviceInfoData);
    if (element == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
  }
  // Each simulated device has exactly one interface, of the HID class.
  std::size_t position = MemberIndex;
  if (element != nullptr) {
    position = MemberIndex == 0 ? static_cast<std::size_t>(element - set->Interfaces.data())
                                : set->Interfaces.size();
  }
  if (!SameGuid(*InterfaceClassGuid, kHidInterfaceClass) || position >= set->Interfaces.size()) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  DeviceInterfaceData->InterfaceClassGuid = kHidInterfaceClass;
  DeviceInterfaceData->Flags = SPINT_ACTIVE;
  DeviceInterfaceData->Reserved = position + 1;
  return TRUE;
}

// The interface path, in two steps: with no buffer, ERROR_INSUFFICIENT_BUFFER and the
// required size (the 4-byte size field and the path with its terminating zero); with
// a buffer of that size whose cbSize is this ABI's fixed part, the path. The device-
// information record, if given, is filled in both steps.
QUORVEL_SIM_EXPORT BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
  const auto* set = TDeviceInfoSets::Instance().Find(DeviceInfoSet);
  if (set == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      DeviceInterfaceData->Reserved == 0 ||
      DeviceInterfaceData->Reserved > set->Interfaces.size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((DeviceInterfaceDetailData == nullptr) != (DeviceInterfaceDetailDataSize == 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (DeviceInterfaceDetailData != nullptr &&
      (DeviceInterfaceDetailDataSize <
           offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR) ||
       DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  const auto& element = set->Interfaces[DeviceInterfaceData->Reserved - 1];
  if (element.DetailError) {
    return Fail(*element.DetailError);
  }
  const auto required = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                           (element.Path.size() + 1) * 2);
  if (RequiredSize != nullptr) {
    *RequiredSize = required;
  }
  if (DeviceInfoData != nullptr) {
    FillDevInfo(*DeviceInfoData, *set, element);
  }
  if (DeviceInterfaceDetailDataSize < required) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  auto* path = reinterpret_cast<BYTE*>(DeviceInterfaceDetailData) +
               offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  std::memcpy(path, element.Path.c_str(), (element.Path.size() + 1) * sizeof(char16_t));
  return TRUE;
}

// A registry property of one element. A property the device does not have fails with
// ERROR_INVALID_DATA and leaves RequiredSize alone; a buffer that is missing or too
// short fails with ERROR_INSUFFICIENT_BUFFER and the size it needs.
QUORVEL_SIM_EXPORT BOOL WINAPI
SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                  DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                  DWORD PropertyBufferSize, PDWORD RequiredSize) {
  const auto* set = TDeviceInfoSets::Instance().Find(DeviceInfoSet);
  if (set == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const auto* element = Element(*set, *DeviceInfoData);
  if (element == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (Property >= SPDRP_MAXIMUM_PROPERTY) {
    return Fail(kErrorInvalidRegProperty);
  }
  const auto it = element->Properties.find(Property);
  if (it == element->Properties.end()) {
    return Fail(ERROR_INVALID_DATA);
  }
  std::vector<BYTE> value;
  const DWORD type = Encode(it->second, value);
  if (PropertyRegDataType != nullptr) {
    *PropertyRegDataType = type;
  }
  if (RequiredSize != nullptr) {
    *RequiredSize = static_cast<DWORD>(value.size());
  }
  if (PropertyBufferSize < value.size()) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (!value.empty()) {
    std::memcpy(PropertyBuffer, value.data(), value.size());
  }
  return TRUE;
}

QUORVEL_SIM_EXPORT BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  return TDeviceInfoSets::Instance().Remove(DeviceInfoSet) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
