#include "platform/Hid.h"

#include <array>

#include "platform/PlatformVersion.h"

namespace quorvel::platform {

#define QUORVEL_HID_DEFINE_SLOT(slot, type, exportName, major, minor) type slot = nullptr;
QUORVEL_HID_TABLE(QUORVEL_HID_DEFINE_SLOT)
#undef QUORVEL_HID_DEFINE_SLOT

namespace {

struct THidRow {
  const char* Export;
  DWORD Major;  // the NT version the row needs; 0.0 for every platform
  DWORD Minor;
  void (*Set)(TEntryPoint entry);
  TEntryPoint (*Get)();
};

#define QUORVEL_HID_ROW(slot, type, exportName, major, minor)              \
  THidRow{exportName, major, minor,                                        \
          [](TEntryPoint entry) { slot = reinterpret_cast<type>(entry); }, \
          []() { return reinterpret_cast<TEntryPoint>(slot); }},
const THidRow kRows[] = {QUORVEL_HID_TABLE(QUORVEL_HID_ROW)};
#undef QUORVEL_HID_ROW

constexpr std::size_t kRowCount = std::size(kRows);

TModule gModule = nullptr;
std::int32_t gBindCount = 0;

}  // namespace

bool BindHid() {
  ++gBindCount;
  if (gBindCount > 1) {
    return true;
  }
  if (!OpenModule(gModule, u"HID.dll")) {
    --gBindCount;
    return false;
  }
  bool ok = true;
  TModuleExports exports(gModule);
  for (const THidRow& row : kRows) {
    const bool wanted = (row.Major == 0 && row.Minor == 0) || PlatformAtLeast(row.Major, row.Minor);
    row.Set(wanted ? exports.Resolve(row.Export, ok) : nullptr);
  }
  if (!ok) {
    UnbindHid();
    return false;
  }
  return true;
}

void UnbindHid() {
  // Never below 0: see UnbindSetupApi.
  if (gBindCount > 0) {
    --gBindCount;
  }
  if (gBindCount == 0) {
    CloseModule(gModule);
    for (const THidRow& row : kRows) {
      row.Set(nullptr);
    }
  }
}

bool HidBound() {
  return gModule != nullptr;
}

NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE ReportType, PHIDP_BUTTON_CAPS ButtonCaps,
                            PUSHORT ButtonCapsLength, PHIDP_PREPARSED_DATA PreparsedData) {
  return HidP_GetSpecificButtonCaps(ReportType, /*UsagePage=*/0, /*LinkCollection=*/0,
                                    /*Usage=*/0, ButtonCaps, ButtonCapsLength, PreparsedData);
}

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE ReportType, PHIDP_VALUE_CAPS ValueCaps,
                           PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData) {
  return HidP_GetSpecificValueCaps(ReportType, /*UsagePage=*/0, /*LinkCollection=*/0,
                                   /*Usage=*/0, ValueCaps, ValueCapsLength, PreparsedData);
}

std::int32_t HidBindCount() {
  return gBindCount;
}
TModule HidModule() {
  return gModule;
}
std::size_t HidSlotCount() {
  return kRowCount;
}

std::string_view HidSlotExport(std::size_t slot) {
  return slot < kRowCount ? std::string_view(kRows[slot].Export) : std::string_view();
}

TEntryPoint HidSlot(std::size_t slot) {
  return slot < kRowCount ? kRows[slot].Get() : nullptr;
}

}  // namespace quorvel::platform
