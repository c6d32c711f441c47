// The HID binding: "HID.dll" loaded at run time, its 46 entry-point slots filled
// in table order, and a process-wide reference count. The layer calls the slots
// by name, e.g. platform::HidD_GetFeature(handle, buffer, length). Not
// synchronised: bind and unbind on one thread; calls through the slots are safe
// from any thread while bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ModuleLoader.h"
#include "wintypes/WinTypes.h"

namespace quorvel::platform {

// The exact platform signatures: BOOLEAN (one byte) for HidD_, NTSTATUS for
// HidP_ except the Max*ListLength ones.
using THidD_Hello = ULONG(WINAPI*)(PCHAR Buffer, ULONG BufferLength);
using THidD_GetHidGuid = void(WINAPI*)(LPGUID HidGuid);
using THidD_GetPreparsedData = BOOLEAN(WINAPI*)(HANDLE, PHIDP_PREPARSED_DATA* PreparsedData);
using THidD_FreePreparsedData = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA PreparsedData);
using THidD_Configuration = BOOLEAN(WINAPI*)(HANDLE, PHIDD_CONFIGURATION Configuration,
                                             ULONG ConfigurationLength);
using THidD_FlushQueue = BOOLEAN(WINAPI*)(HANDLE);
using THidD_Buffer = BOOLEAN(WINAPI*)(HANDLE, PVOID Buffer, ULONG BufferLength);
using THidD_GetNumInputBuffers = BOOLEAN(WINAPI*)(HANDLE, PULONG NumberBuffers);
using THidD_SetNumInputBuffers = BOOLEAN(WINAPI*)(HANDLE, ULONG NumberBuffers);
using THidD_GetAttributes = BOOLEAN(WINAPI*)(HANDLE, PHIDD_ATTRIBUTES Attributes);
using THidD_GetIndexedString = BOOLEAN(WINAPI*)(HANDLE, ULONG StringIndex, PVOID Buffer,
                                                ULONG BufferLength);
using THidP_GetCaps = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA, PHIDP_CAPS Capabilities);
using THidP_GetLinkCollectionNodes = NTSTATUS(WINAPI*)(PHIDP_LINK_COLLECTION_NODE Nodes,
                                                       PULONG NodesLength, PHIDP_PREPARSED_DATA);
using THidP_GetSpecificButtonCaps = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                                      USHORT LinkCollection, USAGE Usage,
                                                      PHIDP_BUTTON_CAPS ButtonCaps,
                                                      PUSHORT ButtonCapsLength,
                                                      PHIDP_PREPARSED_DATA);
using THidP_GetSpecificValueCaps = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                                     USHORT LinkCollection, USAGE Usage,
                                                     PHIDP_VALUE_CAPS ValueCaps,
                                                     PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA);
using THidP_Data = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, PHIDP_DATA DataList, PULONG DataLength,
                                     PHIDP_PREPARSED_DATA, PCHAR Report, ULONG ReportLength);
using THidP_MaxDataListLength = ULONG(WINAPI*)(HIDP_REPORT_TYPE, PHIDP_PREPARSED_DATA);
using THidP_Usages = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage, USHORT LinkCollection,
                                       PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA,
                                       PCHAR Report, ULONG ReportLength);
using THidP_GetUsagesEx = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USHORT LinkCollection,
                                            PUSAGE_AND_PAGE ButtonList, PULONG UsageLength,
                                            PHIDP_PREPARSED_DATA, PCHAR Report, ULONG ReportLength);
using THidP_MaxUsageListLength = ULONG(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                                PHIDP_PREPARSED_DATA);
using THidP_GetUsageValue = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                              USHORT LinkCollection, USAGE Usage, PULONG UsageValue,
                                              PHIDP_PREPARSED_DATA, PCHAR Report,
                                              ULONG ReportLength);
using THidP_GetScaledUsageValue = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                                    USHORT LinkCollection, USAGE Usage,
                                                    PLONG UsageValue, PHIDP_PREPARSED_DATA,
                                                    PCHAR Report, ULONG ReportLength);
using THidP_UsageValueArray = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                                USHORT LinkCollection, USAGE Usage,
                                                PCHAR UsageValue, USHORT UsageValueByteLength,
                                                PHIDP_PREPARSED_DATA, PCHAR Report,
                                                ULONG ReportLength);
using THidP_SetUsageValue = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                              USHORT LinkCollection, USAGE Usage, ULONG UsageValue,
                                              PHIDP_PREPARSED_DATA, PCHAR Report,
                                              ULONG ReportLength);
using THidP_SetScaledUsageValue = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USAGE UsagePage,
                                                    USHORT LinkCollection, USAGE Usage,
                                                    LONG UsageValue, PHIDP_PREPARSED_DATA,
                                                    PCHAR Report, ULONG ReportLength);
using THidP_UsageListDifference = NTSTATUS(WINAPI*)(PUSAGE PreviousUsageList,
                                                    PUSAGE CurrentUsageList, PUSAGE BreakUsageList,
                                                    PUSAGE MakeUsageList, ULONG UsageListLength);
using THidP_TranslateUsagesToI8042ScanCodes = NTSTATUS(WINAPI*)(
    PUSAGE ChangedUsageList, ULONG UsageListLength, HIDP_KEYBOARD_DIRECTION KeyAction,
    PHIDP_KEYBOARD_MODIFIER_STATE ModifierState, PHIDP_INSERT_SCANCODES InsertCodesProcedure,
    PVOID InsertCodesContext);
using THidP_GetExtendedAttributes = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, USHORT DataIndex,
                                                      PHIDP_PREPARSED_DATA,
                                                      PHIDP_EXTENDED_ATTRIBUTES Attributes,
                                                      PULONG LengthAttributes);
using THidP_InitializeReportForID = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE, UCHAR ReportID,
                                                      PHIDP_PREPARSED_DATA, PCHAR Report,
                                                      ULONG ReportLength);

// The table, in look-up order: X(slot, type, export, required NT major, minor).
// A row whose required version is 0.0 is always looked up. The button forms
// (the SDK's HidP_GetButtons etc. are macros, not exports) bind the export of
// the row before them; their slot names avoid the SDK's macro names.
#define QUORVEL_HID_TABLE(X)                                                                     \
  X(HidD_Hello, THidD_Hello, "HidD_Hello", 0, 0)                                                 \
  X(HidD_GetHidGuid, THidD_GetHidGuid, "HidD_GetHidGuid", 0, 0)                                  \
  X(HidD_GetPreparsedData, THidD_GetPreparsedData, "HidD_GetPreparsedData", 0, 0)                \
  X(HidD_FreePreparsedData, THidD_FreePreparsedData, "HidD_FreePreparsedData", 0, 0)             \
  X(HidD_GetConfiguration, THidD_Configuration, "HidD_GetConfiguration", 0, 0)                   \
  X(HidD_SetConfiguration, THidD_Configuration, "HidD_SetConfiguration", 0, 0)                   \
  X(HidD_FlushQueue, THidD_FlushQueue, "HidD_FlushQueue", 0, 0)                                  \
  X(HidD_GetFeature, THidD_Buffer, "HidD_GetFeature", 0, 0)                                      \
  X(HidD_SetFeature, THidD_Buffer, "HidD_SetFeature", 0, 0)                                      \
  X(HidD_GetNumInputBuffers, THidD_GetNumInputBuffers, "HidD_GetNumInputBuffers", 0, 0)          \
  X(HidD_SetNumInputBuffers, THidD_SetNumInputBuffers, "HidD_SetNumInputBuffers", 0, 0)          \
  X(HidD_GetAttributes, THidD_GetAttributes, "HidD_GetAttributes", 0, 0)                         \
  X(HidD_GetManufacturerString, THidD_Buffer, "HidD_GetManufacturerString", 0, 0)                \
  X(HidD_GetProductString, THidD_Buffer, "HidD_GetProductString", 0, 0)                          \
  X(HidD_GetSerialNumberString, THidD_Buffer, "HidD_GetSerialNumberString", 0, 0)                \
  X(HidD_GetPhysicalDescriptor, THidD_Buffer, "HidD_GetPhysicalDescriptor", 0, 0)                \
  X(HidD_GetIndexedString, THidD_GetIndexedString, "HidD_GetIndexedString", 0, 0)                \
  X(HidD_GetInputReport, THidD_Buffer, "HidD_GetInputReport", 5, 1)                              \
  X(HidD_SetOutputReport, THidD_Buffer, "HidD_SetOutputReport", 5, 1)                            \
  X(HidP_GetCaps, THidP_GetCaps, "HidP_GetCaps", 0, 0)                                           \
  X(HidP_GetLinkCollectionNodes, THidP_GetLinkCollectionNodes, "HidP_GetLinkCollectionNodes", 0, \
    0)                                                                                           \
  X(HidP_GetSpecificButtonCaps, THidP_GetSpecificButtonCaps, "HidP_GetSpecificButtonCaps", 0, 0) \
  X(HidP_GetSpecificValueCaps, THidP_GetSpecificValueCaps, "HidP_GetSpecificValueCaps", 0, 0)    \
  X(HidP_GetData, THidP_Data, "HidP_GetData", 0, 0)                                              \
  X(HidP_SetData, THidP_Data, "HidP_SetData", 0, 0)                                              \
  X(HidP_MaxDataListLength, THidP_MaxDataListLength, "HidP_MaxDataListLength", 0, 0)             \
  X(HidP_GetUsages, THidP_Usages, "HidP_GetUsages", 0, 0)                                        \
  X(HidP_GetButtonUsages, THidP_Usages, "HidP_GetUsages", 0, 0)                                  \
  X(HidP_GetUsagesEx, THidP_GetUsagesEx, "HidP_GetUsagesEx", 0, 0)                               \
  X(HidP_GetButtonUsagesEx, THidP_GetUsagesEx, "HidP_GetUsagesEx", 0, 0)                         \
  X(HidP_SetUsages, THidP_Usages, "HidP_SetUsages", 0, 0)                                        \
  X(HidP_SetButtonUsages, THidP_Usages, "HidP_SetUsages", 0, 0)                                  \
  X(HidP_UnsetUsages, THidP_Usages, "HidP_UnsetUsages", 0, 0)                                    \
  X(HidP_UnsetButtonUsages, THidP_Usages, "HidP_UnsetUsages", 0, 0)                              \
  X(HidP_MaxUsageListLength, THidP_MaxUsageListLength, "HidP_MaxUsageListLength", 0, 0)          \
  X(HidP_MaxButtonListLength, THidP_MaxUsageListLength, "HidP_MaxUsageListLength", 0, 0)         \
  X(HidP_GetUsageValue, THidP_GetUsageValue, "HidP_GetUsageValue", 0, 0)                         \
  X(HidP_GetScaledUsageValue, THidP_GetScaledUsageValue, "HidP_GetScaledUsageValue", 0, 0)       \
  X(HidP_GetUsageValueArray, THidP_UsageValueArray, "HidP_GetUsageValueArray", 0, 0)             \
  X(HidP_SetUsageValue, THidP_SetUsageValue, "HidP_SetUsageValue", 0, 0)                         \
  X(HidP_SetScaledUsageValue, THidP_SetScaledUsageValue, "HidP_SetScaledUsageValue", 0, 0)       \
  X(HidP_SetUsageValueArray, THidP_UsageValueArray, "HidP_SetUsageValueArray", 0, 0)             \
  X(HidP_UsageListDifference, THidP_UsageListDifference, "HidP_UsageListDifference", 0, 0)       \
  X(HidP_TranslateUsagesToI8042ScanCodes, THidP_TranslateUsagesToI8042ScanCodes,                 \
    "HidP_TranslateUsagesToI8042ScanCodes", 0, 0)                                                \
  X(HidP_GetExtendedAttributes, THidP_GetExtendedAttributes, "HidP_GetExtendedAttributes", 5, 0) \
  X(HidP_InitializeReportForID, THidP_InitializeReportForID, "HidP_InitializeReportForID", 5, 0)

// The slots: nullptr while unbound, and for a conditional row whose platform
// test failed at the first bind.
#define QUORVEL_HID_DECLARE_SLOT(slot, type, exportName, major, minor) extern type slot;
QUORVEL_HID_TABLE(QUORVEL_HID_DECLARE_SLOT)
#undef QUORVEL_HID_DECLARE_SLOT

// Takes one reference; the first loads the library and looks up every row whose
// platform test passes, even after a miss. True when the binding is in place
// afterwards. A failed bind leaves count, module and slots as they were.
bool BindHid();

// Gives one reference back; the last frees the library and empties every slot.
void UnbindHid();

// True from a successful first bind to the unbind that releases the library.
bool HidBound();

// HidP_GetSpecificButtonCaps / HidP_GetSpecificValueCaps with no filter (usage
// page, link collection and usage 0). Only while bound.
NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE ReportType, PHIDP_BUTTON_CAPS ButtonCaps,
                            PUSHORT ButtonCapsLength, PHIDP_PREPARSED_DATA PreparsedData);
NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE ReportType, PHIDP_VALUE_CAPS ValueCaps,
                           PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData);

// State, for tests and diagnostics.
std::int32_t HidBindCount();
TModule HidModule();
std::size_t HidSlotCount();                        // 46
std::string_view HidSlotExport(std::size_t slot);  // the export the slot binds
TEntryPoint HidSlot(std::size_t slot);             // the slot's value, nullptr while empty

}  // namespace quorvel::platform
