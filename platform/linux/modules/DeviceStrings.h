// The texts a HID device offers, answered as the platform's string calls answer them:
// for USB devices from the USB device's sysfs attributes (read by the kernel at plug-in in
// the device's first language) and, for what sysfs does not hold, from the device itself
// through usbfs; for other transports from the HID core's name and unique ID.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/modules/HidrawNode.h"
#include "platform/linux/modules/Sysfs.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

enum class TStringKind { Manufacturer, Product, Serial };

struct TStringResult {
  DWORD Error = ERROR_SUCCESS;  // a Windows error code; the text is empty unless success
  std::u16string Text;
};

// A device that lacks a string fails as a USB device stalls the request for it.
inline constexpr DWORD kNoSuchString = ERROR_GEN_FAILURE;

// Language used when the device's own list cannot be read.
inline constexpr char16_t kFallbackLanguage = 0x0409;

TStringResult DeviceString(const TSysfs& sysfs, const THidrawNode& node, TStringKind kind);

// String descriptor `index`; index 0 gives the device's language IDs, one per code unit.
TStringResult IndexedString(const TSysfs& sysfs, const THidrawNode& node, ULONG index);

}  // namespace quorvel::hidraw
