// The HID test module's working entry points: the caps functions record how
// they were called and fill one record, so the convenience wrappers can be
// checked against them through the real binding.
#include "tests/platform/modules/TestHidModule.h"
#include "wintypes/WinTypes.h"

namespace {
TCapsCall gLastCall;
}  // namespace

extern "C" {

TEST_MODULE_API const TCapsCall* TestHidLastCapsCall() {
  return &gLastCall;
}

TEST_MODULE_API void HidD_GetHidGuid(LPGUID guid) {
  *guid = GUID{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

TEST_MODULE_API NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE reportType, USAGE usagePage,
                                                    USHORT linkCollection, USAGE usage,
                                                    PHIDP_BUTTON_CAPS caps, PUSHORT capsLength,
                                                    PHIDP_PREPARSED_DATA preparsed) {
  gLastCall = {"HidP_GetSpecificButtonCaps",
               reportType,
               usagePage,
               linkCollection,
               usage,
               caps,
               capsLength,
               preparsed};
  if (*capsLength < 1) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  caps[0] = HIDP_BUTTON_CAPS{};
  caps[0].UsagePage = 0x09;
  caps[0].ReportID = 3;
  *capsLength = 1;
  return HIDP_STATUS_SUCCESS;
}

TEST_MODULE_API NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE reportType, USAGE usagePage,
                                                   USHORT linkCollection, USAGE usage,
                                                   PHIDP_VALUE_CAPS caps, PUSHORT capsLength,
                                                   PHIDP_PREPARSED_DATA preparsed) {
  gLastCall = {"HidP_GetSpecificValueCaps",
               reportType,
               usagePage,
               linkCollection,
               usage,
               caps,
               capsLength,
               preparsed};
  if (*capsLength < 1) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  caps[0] = HIDP_VALUE_CAPS{};
  caps[0].UsagePage = 0x01;
  caps[0].BitSize = 12;
  *capsLength = 1;
  return HIDP_STATUS_USAGE_NOT_FOUND;  // a status other than success must pass through too
}

}  // extern "C"
