// The Windows records, handles and constants: the SDK on Windows, the same names
// and 64-bit layouts from WinTypesPosix.h elsewhere. Every folder includes this and
// nothing else for them; it stands below all of them, so that the seam and the
// parser share it without including each other.
#pragma once

#ifdef _WIN32
// The SDK headers depend on this order; the blank lines keep it.
#include <windows.h>

#include <setupapi.h>

// mingw's HID headers lack C linkage, which the exported entry points of the
// simulated modules and the parser need in order to match them.
extern "C" {
#include <hidsdi.h>

#include <hidpi.h>
}

// Names newer than some SDKs.
#ifndef SPDRP_BASE_CONTAINERID
#define SPDRP_BASE_CONTAINERID 0x00000024
#endif
#ifndef HIDP_STATUS_NOT_BUTTON_ARRAY
#define HIDP_STATUS_NOT_BUTTON_ARRAY (static_cast<NTSTATUS>(0xC0110021))
#endif

#include <cstddef>

// The records passed to the platform carry sizeof for this ABI; check the SDK
// agrees with the layouts the POSIX modules use.
static_assert(sizeof(void*) == 8, "the 64-bit layouts are the ones checked");
static_assert(sizeof(WCHAR) == 2);
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8 &&
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);
static_assert(sizeof(HIDD_CONFIGURATION) == 16);
static_assert(sizeof(HIDP_CAPS) == 64);
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72 && offsetof(HIDP_BUTTON_CAPS, Range) == 56);
static_assert(sizeof(HIDP_VALUE_CAPS) == 72 && offsetof(HIDP_VALUE_CAPS, Range) == 56);
static_assert(sizeof(HIDP_LINK_COLLECTION_NODE) == 24);
static_assert(sizeof(HIDP_DATA) == 8);
static_assert(sizeof(HIDP_EXTENDED_ATTRIBUTES) == 16 &&
              offsetof(HIDP_EXTENDED_ATTRIBUTES, Data) == 12);
static_assert(sizeof(OVERLAPPED) == 32);
#else
#include "wintypes/WinTypesPosix.h"
#endif
