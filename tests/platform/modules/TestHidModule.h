// What the HID test module's caps functions saw on their last call.
#pragma once

#include "wintypes/WinTypes.h"

#define TEST_MODULE_API __attribute__((visibility("default")))

struct TCapsCall {
  const char* Function = nullptr;
  HIDP_REPORT_TYPE ReportType = HidP_Input;
  USAGE UsagePage = 0xFFFF;
  USHORT LinkCollection = 0xFFFF;
  USAGE Usage = 0xFFFF;
  const void* Caps = nullptr;
  const USHORT* CapsLength = nullptr;
  const void* PreparsedData = nullptr;
};

using TTestHidLastCapsCall = const TCapsCall* (*)();
