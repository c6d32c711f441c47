// The device-installation binding: "SetupApi.dll" loaded at run time, its table
// of 396 entry-point slots (165 functions, 271 distinct exports) filled in table
// order, and a process-wide reference count. Not synchronised: bind and unbind
// on one thread; calls through the slots are safe from any thread while bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ModuleLoader.h"
#include "wintypes/WinTypes.h"

namespace quorvel::platform {

// Takes one reference; the first loads the library and looks up every row, even
// after a miss. True when the binding is in place afterwards. A failed bind
// leaves count, module and slots as they were, and a later bind tries again.
bool BindSetupApi();

// Gives one reference back; the last frees the library and empties every slot.
// Match every bind that returned true with one unbind, and none after a false.
void UnbindSetupApi();

// State, for tests and diagnostics.
std::int32_t SetupApiBindCount();
TModule SetupApiModule();
std::size_t SetupApiSlotCount();                          // 396
std::string_view SetupApiSlotExport(std::size_t slot);    // the export the slot binds
std::string_view SetupApiSlotFunction(std::size_t slot);  // its function, without A/W
TEntryPoint SetupApiSlot(std::size_t slot);               // nullptr while unbound

// The five functions the layer calls, typed, through the UTF-16 neutral slot
// where the function has character forms (the SDK defines the neutral names as
// macros, hence the Slot suffix). nullptr while unbound.
using TSetupDiGetClassDevs = HDEVINFO(WINAPI*)(const GUID* ClassGuid, PCWSTR Enumerator,
                                               HWND hwndParent, DWORD Flags);
using TSetupDiEnumDeviceInterfaces = BOOL(WINAPI*)(HDEVINFO DeviceInfoSet,
                                                   PSP_DEVINFO_DATA DeviceInfoData,
                                                   const GUID* InterfaceClassGuid,
                                                   DWORD MemberIndex,
                                                   PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
using TSetupDiGetDeviceInterfaceDetail = BOOL(WINAPI*)(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData);
using TSetupDiGetDeviceRegistryProperty = BOOL(WINAPI*)(HDEVINFO DeviceInfoSet,
                                                        PSP_DEVINFO_DATA DeviceInfoData,
                                                        DWORD Property, PDWORD PropertyRegDataType,
                                                        PBYTE PropertyBuffer,
                                                        DWORD PropertyBufferSize,
                                                        PDWORD RequiredSize);
using TSetupDiDestroyDeviceInfoList = BOOL(WINAPI*)(HDEVINFO DeviceInfoSet);

TSetupDiGetClassDevs SetupDiGetClassDevsSlot();
TSetupDiEnumDeviceInterfaces SetupDiEnumDeviceInterfacesSlot();  // the first slot, not the alias
TSetupDiGetDeviceInterfaceDetail SetupDiGetDeviceInterfaceDetailSlot();
TSetupDiGetDeviceRegistryProperty SetupDiGetDeviceRegistryPropertySlot();
TSetupDiDestroyDeviceInfoList SetupDiDestroyDeviceInfoListSlot();

}  // namespace quorvel::platform
