// The device-installation entry points the HID layer calls, over a snapshot of
// /sys/class/hidraw. Each validates every record and handle it is given and reports
// failures through the per-thread last error, with the codes the platform uses.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/SetupApiExportList.h"
#include "platform/linux/modules/DeviceInfoSet.h"
#include "platform/linux/modules/Guids.h"
#include "platform/linux/modules/ModuleRoot.h"
#include "platform/posix/Kernel.h"
#include "wintypes/WinTypes.h"

using quorvel::hidraw::FindSet;
using quorvel::hidraw::kHidClassGuid;
using quorvel::hidraw::kHidInterfaceGuid;
using quorvel::hidraw::TDeviceInfoSet;
using quorvel::hidraw::TInterfaceEntry;

namespace {

constexpr DWORD kKnownFlags =
    DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;
// SetupAPI's own code for a property code it does not know.
constexpr DWORD kErrorInvalidRegProperty = 0xE0000209;
constexpr DWORD kDetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool IsHidEnumerator(PCWSTR enumerator) {
  const char16_t* expected = u"HID";
  for (; *expected != 0; ++enumerator, ++expected) {
    const char16_t c = *enumerator;
    if ((c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c) != *expected) {
      return false;
    }
  }
  return *enumerator == 0;
}

void FillDeviceInfo(const TDeviceInfoSet& set, std::size_t index, SP_DEVINFO_DATA& info) {
  info.ClassGuid = kHidClassGuid;
  info.DevInst = set.At(index).Node.Instance;
  info.Reserved = set.Token(index);
}

std::size_t IndexOf(const TDeviceInfoSet& set, const TInterfaceEntry* entry) {
  for (std::size_t i = 0; i < set.Count(); ++i) {
    if (&set.At(i) == entry) {
      return i;
    }
  }
  return set.Count();
}

}  // namespace

extern "C" {

// Snapshot of the present HID interfaces, in order of hidraw minor number. Any other
// interface class, or an enumerator other than "HID", gives an empty set, as a class
// without present devices does. Never blocks on a device.
HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND /*hwndParent*/,
                              DWORD Flags) {
  if ((Flags & ~kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return INVALID_HANDLE_VALUE;
  }
  const bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
  if (ClassGuid == nullptr && !allClasses) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The HID collections are the interfaces of the HID interface class and the device
  // nodes of the setup class HIDClass.
  const GUID& wanted = (Flags & DIGCF_DEVICEINTERFACE) != 0 ? kHidInterfaceGuid : kHidClassGuid;
  const bool hidClass = allClasses || *ClassGuid == wanted;
  const bool hidEnumerator = Enumerator == nullptr || IsHidEnumerator(Enumerator);
  auto set = hidClass && hidEnumerator
                 ? quorvel::hidraw::SnapshotHidInterfaces(quorvel::hidraw::ModuleSysfs())
                 : std::make_unique<TDeviceInfoSet>(std::vector<TInterfaceEntry>{});
  return quorvel::hidraw::AdoptSet(std::move(set));
}

// The MemberIndex-th HID interface of the set (of one device when DeviceInfoData is given);
// FALSE with ERROR_NO_MORE_ITEMS past the last.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  const auto set = FindSet(DeviceInfoSet);
  if (!set) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  std::size_t index = MemberIndex;
  if (DeviceInfoData != nullptr) {
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    const TInterfaceEntry* entry = set->FromToken(DeviceInfoData->Reserved);
    if (entry == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // Each device node has exactly one HID interface.
    index = MemberIndex == 0 ? IndexOf(*set, entry) : set->Count();
  }
  if (!(*InterfaceClassGuid == kHidInterfaceGuid) || index >= set->Count()) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  DeviceInterfaceData->InterfaceClassGuid = kHidInterfaceGuid;
  DeviceInterfaceData->Flags = SPINT_ACTIVE;
  DeviceInterfaceData->Reserved = set->Token(index);
  return TRUE;
}

// The interface path (the hidraw device node) in UTF-16. A query without a buffer fails
// with ERROR_INSUFFICIENT_BUFFER and the required size, 4 + 2 * (characters + 1); the
// device-information record is filled in either case.
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
  const auto set = FindSet(DeviceInfoSet);
  if (!set) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const TInterfaceEntry* entry = set->FromToken(DeviceInterfaceData->Reserved);
  if (entry == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((DeviceInterfaceDetailData == nullptr) != (DeviceInterfaceDetailDataSize == 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (DeviceInterfaceDetailData != nullptr &&
      (DeviceInterfaceDetailDataSize < kDetailPathOffset + sizeof(WCHAR) ||
       DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  const DWORD required =
      static_cast<DWORD>(kDetailPathOffset + (entry->Path.size() + 1) * sizeof(WCHAR));
  if (RequiredSize != nullptr) {
    *RequiredSize = required;
  }
  if (DeviceInfoData != nullptr) {
    FillDeviceInfo(*set, IndexOf(*set, entry), *DeviceInfoData);
  }
  if (DeviceInterfaceDetailDataSize < required) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  auto* path = reinterpret_cast<unsigned char*>(DeviceInterfaceDetailData) + kDetailPathOffset;
  std::memcpy(path, entry->Path.c_str(), (entry->Path.size() + 1) * sizeof(WCHAR));
  return TRUE;
}

// A registry property of the device node, from the set's snapshot. Absent properties fail
// with ERROR_INVALID_DATA and leave the required size alone; a buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER and the size, copying nothing.
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
  const auto set = FindSet(DeviceInfoSet);
  if (!set) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const TInterfaceEntry* entry = set->FromToken(DeviceInfoData->Reserved);
  if (entry == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (Property >= SPDRP_MAXIMUM_PROPERTY || Property == SPDRP_UNUSED0 ||
      Property == SPDRP_UNUSED1 || Property == SPDRP_UNUSED2) {
    return Fail(kErrorInvalidRegProperty);
  }
  const auto& value = entry->Properties[Property];
  if (!value) {
    return Fail(ERROR_INVALID_DATA);  // RequiredSize keeps the caller's value, as on the platform
  }
  const auto size = static_cast<DWORD>(value->Bytes.size());
  if (RequiredSize != nullptr) {
    *RequiredSize = size;
  }
  if (PropertyRegDataType != nullptr) {
    *PropertyRegDataType = value->Type;
  }
  if (PropertyBufferSize < size) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::copy(value->Bytes.begin(), value->Bytes.end(), PropertyBuffer);
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  return quorvel::hidraw::DestroySet(DeviceInfoSet) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

}  // extern "C"
