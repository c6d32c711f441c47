// The export list of a HID module of ours (ModuleExportList.h): its HidD_ functions and the
// HidP_ functions of hidparse; each module links this file once. POSIX only.
#include "platform/HidExportList.h"

#include <cstdint>

#include "hidparse/HidPExports.h"
#include "platform/ModuleExportList.h"

namespace {

#define QUORVEL_HIDD_NAME(name, type) QUORVEL_EXPORT_LIST_NAME(name)
#define QUORVEL_HIDD_ADDRESS(name, type) QUORVEL_EXPORT_LIST_ADDRESS(name)
#define QUORVEL_HIDP_EXPORTS(X)           \
  X(HidP_GetCaps)                         \
  X(HidP_GetLinkCollectionNodes)          \
  X(HidP_GetSpecificButtonCaps)           \
  X(HidP_GetSpecificValueCaps)            \
  X(HidP_GetData)                         \
  X(HidP_SetData)                         \
  X(HidP_MaxDataListLength)               \
  X(HidP_GetUsages)                       \
  X(HidP_GetUsagesEx)                     \
  X(HidP_SetUsages)                       \
  X(HidP_UnsetUsages)                     \
  X(HidP_MaxUsageListLength)              \
  X(HidP_GetUsageValue)                   \
  X(HidP_GetScaledUsageValue)             \
  X(HidP_GetUsageValueArray)              \
  X(HidP_SetUsageValue)                   \
  X(HidP_SetScaledUsageValue)             \
  X(HidP_SetUsageValueArray)              \
  X(HidP_UsageListDifference)             \
  X(HidP_TranslateUsagesToI8042ScanCodes) \
  X(HidP_GetExtendedAttributes)           \
  X(HidP_InitializeReportForID)

constexpr const char* kNames[] = {QUORVEL_HIDD_EXPORTS(QUORVEL_HIDD_NAME)
                                      QUORVEL_HIDP_EXPORTS(QUORVEL_EXPORT_LIST_NAME)};
const quorvel::platform::TEntryPoint kAddresses[] = {
    QUORVEL_HIDD_EXPORTS(QUORVEL_HIDD_ADDRESS) QUORVEL_HIDP_EXPORTS(QUORVEL_EXPORT_LIST_ADDRESS)};

}  // namespace

QUORVEL_DEFINE_EXPORT_LIST(kNames, kAddresses);
