// The registry properties of a HID device node, answered from sysfs as the platform's
// device-installation library answers them for a HID collection. Properties that Linux
// cannot know (driver keys, filters, power data, security) are absent.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/modules/HidrawNode.h"
#include "platform/linux/modules/Sysfs.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidraw {

struct TPropertyValue {
  DWORD Type = REG_NONE;       // REG_SZ, REG_MULTI_SZ, REG_DWORD or REG_BINARY
  std::vector<uint8_t> Bytes;  // as the W functions return it (UTF-16LE text)
};

// Indexed by SPDRP_ code; an empty entry is a property the device does not have.
using TPropertyTable = std::array<std::optional<TPropertyValue>, SPDRP_MAXIMUM_PROPERTY>;

TPropertyTable DeviceProperties(const TSysfs& sysfs, const THidrawNode& node);

// The top-level usage of a device, which names its kind ("HID Keyboard Device").
struct TTopLevelUsage {
  uint16_t UsagePage = 0;
  uint16_t Usage = 0;
};
std::u16string DeviceDescription(std::optional<TTopLevelUsage> usage);
std::vector<std::u16string> HardwareIds(const THidrawNode& node, uint16_t version,
                                        std::optional<TTopLevelUsage> usage);

}  // namespace quorvel::hidraw
