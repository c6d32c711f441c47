// One hidraw node as the kernel describes it in sysfs: the HID device behind it, its
// identity from the uevent, and for USB devices the interface and device folders above it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/modules/Sysfs.h"

namespace quorvel::hidraw {

inline constexpr uint16_t kBusUsb = 0x03;
inline constexpr uint16_t kBusBluetooth = 0x05;

struct THidrawNode {
  std::string Name;     // "hidraw3"
  uint32_t Minor = 0;   // orders the nodes as the kernel numbered them
  std::string DevNode;  // rooted device node, "/dev/hidraw3"
  std::string HidDir;   // rooted, resolved folder of the HID device
  // The HID core's instance number: the hexadecimal suffix of "BBBB:VVVV:PPPP.NNNN". Unique
  // for every device the kernel creates during a boot, so a re-plugged device gets another.
  uint32_t Instance = 0;
  uint16_t Bus = 0;
  uint16_t Vendor = 0;
  uint16_t Product = 0;
  std::string Driver;  // bound HID driver ("hid-generic"); empty when unbound
  std::string HidName, HidPhys, HidUniq;
  // Set only when the HID device sits on a USB interface (usbhid): rooted folders.
  std::optional<std::string> UsbInterfaceDir, UsbDeviceDir;

  bool IsUsb() const { return UsbDeviceDir.has_value(); }
};

// The node of that name ("hidraw3"), nullopt when it is gone or its HID device cannot be
// identified.
std::optional<THidrawNode> DescribeNode(const TSysfs& sysfs, std::string_view name);

// Every node present, in order of minor number.
std::vector<THidrawNode> ListNodes(const TSysfs& sysfs);

// The node name of a character device number, from /sys/dev/char; nullopt when it is not a
// hidraw node.
std::optional<std::string> NodeNameFromDevice(const TSysfs& sysfs, uint32_t major, uint32_t minor);

// Version of the device: the USB device's bcdDevice; 0 where the kernel does not show one.
uint16_t VersionNumber(const THidrawNode& node);

// The HID device's report descriptor as sysfs shows it; nullopt when unreadable.
std::optional<std::vector<uint8_t>> ReportDescriptorFromSysfs(const THidrawNode& node);

}  // namespace quorvel::hidraw
