// The report-parser functions of the platform's HID library, with the platform's names and
// C signatures, over the preparsed data of MakePreparsedData. A module that links the
// object library quorvel_hidp_exports exports all of them.
#pragma once

#include "wintypes/WinTypes.h"

#ifdef _WIN32
#define QUORVEL_HIDP_EXPORT __declspec(dllexport)
#else
#define QUORVEL_HIDP_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData,
                                                PHIDP_CAPS Capabilities);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI
HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE LinkCollectionNodes,
                            PULONG LinkCollectionNodesLength, PHIDP_PREPARSED_DATA PreparsedData);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetSpecificButtonCaps(
    HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection, USAGE Usage,
    PHIDP_BUTTON_CAPS ButtonCaps, PUSHORT ButtonCapsLength, PHIDP_PREPARSED_DATA PreparsedData);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetSpecificValueCaps(
    HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection, USAGE Usage,
    PHIDP_VALUE_CAPS ValueCaps, PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList,
                                                PULONG DataLength,
                                                PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                                ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_SetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList,
                                                PULONG DataLength,
                                                PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                                ULONG ReportLength);
QUORVEL_HIDP_EXPORT ULONG NTAPI HidP_MaxDataListLength(HIDP_REPORT_TYPE ReportType,
                                                       PHIDP_PREPARSED_DATA PreparsedData);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                                  USHORT LinkCollection, PUSAGE UsageList,
                                                  PULONG UsageLength,
                                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                                  ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetUsagesEx(HIDP_REPORT_TYPE ReportType,
                                                    USHORT LinkCollection,
                                                    PUSAGE_AND_PAGE ButtonList, PULONG UsageLength,
                                                    PHIDP_PREPARSED_DATA PreparsedData,
                                                    PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_SetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                                  USHORT LinkCollection, PUSAGE UsageList,
                                                  PULONG UsageLength,
                                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                                  ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_UnsetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                                    USHORT LinkCollection, PUSAGE UsageList,
                                                    PULONG UsageLength,
                                                    PHIDP_PREPARSED_DATA PreparsedData,
                                                    PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT ULONG NTAPI HidP_MaxUsageListLength(HIDP_REPORT_TYPE ReportType,
                                                        USAGE UsagePage,
                                                        PHIDP_PREPARSED_DATA PreparsedData);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                                      USHORT LinkCollection, USAGE Usage,
                                                      PULONG UsageValue,
                                                      PHIDP_PREPARSED_DATA PreparsedData,
                                                      PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetScaledUsageValue(HIDP_REPORT_TYPE ReportType,
                                                            USAGE UsagePage, USHORT LinkCollection,
                                                            USAGE Usage, PLONG UsageValue,
                                                            PHIDP_PREPARSED_DATA PreparsedData,
                                                            PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetUsageValueArray(HIDP_REPORT_TYPE ReportType,
                                                           USAGE UsagePage, USHORT LinkCollection,
                                                           USAGE Usage, PCHAR UsageValue,
                                                           USHORT UsageValueByteLength,
                                                           PHIDP_PREPARSED_DATA PreparsedData,
                                                           PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_SetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                                      USHORT LinkCollection, USAGE Usage,
                                                      ULONG UsageValue,
                                                      PHIDP_PREPARSED_DATA PreparsedData,
                                                      PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_SetScaledUsageValue(HIDP_REPORT_TYPE ReportType,
                                                            USAGE UsagePage, USHORT LinkCollection,
                                                            USAGE Usage, LONG UsageValue,
                                                            PHIDP_PREPARSED_DATA PreparsedData,
                                                            PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_SetUsageValueArray(HIDP_REPORT_TYPE ReportType,
                                                           USAGE UsagePage, USHORT LinkCollection,
                                                           USAGE Usage, PCHAR UsageValue,
                                                           USHORT UsageValueByteLength,
                                                           PHIDP_PREPARSED_DATA PreparsedData,
                                                           PCHAR Report, ULONG ReportLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_UsageListDifference(PUSAGE PreviousUsageList,
                                                            PUSAGE CurrentUsageList,
                                                            PUSAGE BreakUsageList,
                                                            PUSAGE MakeUsageList,
                                                            ULONG UsageListLength);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_TranslateUsagesToI8042ScanCodes(
    PUSAGE ChangedUsageList, ULONG UsageListLength, HIDP_KEYBOARD_DIRECTION KeyAction,
    PHIDP_KEYBOARD_MODIFIER_STATE ModifierState, PHIDP_INSERT_SCANCODES InsertCodesProcedure,
    PVOID InsertCodesContext);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_GetExtendedAttributes(HIDP_REPORT_TYPE ReportType,
                                                              USHORT DataIndex,
                                                              PHIDP_PREPARSED_DATA PreparsedData,
                                                              PHIDP_EXTENDED_ATTRIBUTES Attributes,
                                                              PULONG LengthAttributes);
QUORVEL_HIDP_EXPORT NTSTATUS NTAPI HidP_InitializeReportForID(HIDP_REPORT_TYPE ReportType,
                                                              UCHAR ReportID,
                                                              PHIDP_PREPARSED_DATA PreparsedData,
                                                              PCHAR Report, ULONG ReportLength);

}  // extern "C"
