#include "platform/linux/modules/HidrawNode.h"

#include <algorithm>

namespace quorvel::hidraw {

namespace {

// Largest report descriptor the HID core accepts (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxDescriptor = 4096;

// "BBBB:VVVV:PPPP.NNNN" -> bus, vendor, product, instance.
struct THidDirName {
  uint16_t Bus, Vendor, Product;
  uint32_t Instance;
};

std::optional<THidDirName> ParseHidDirName(std::string_view name) {
  if (name.size() < 16 || name[4] != ':' || name[9] != ':' || name[14] != '.') {
    return std::nullopt;
  }
  const auto bus = ParseHex(name.substr(0, 4), 0xFFFF);
  const auto vendor = ParseHex(name.substr(5, 4), 0xFFFF);
  const auto product = ParseHex(name.substr(10, 4), 0xFFFF);
  const auto instance = ParseHex(name.substr(15));
  if (!bus || !vendor || !product || !instance) {
    return std::nullopt;
  }
  return THidDirName{static_cast<uint16_t>(*bus), static_cast<uint16_t>(*vendor),
                     static_cast<uint16_t>(*product), *instance};
}

// The minor number from "MAJOR:MINOR", else from the digits of the name.
std::optional<uint32_t> MinorOf(const std::string& classDir, std::string_view name) {
  if (auto dev = TSysfs::ReadText(classDir + "/dev")) {
    const std::size_t colon = dev->find(':');
    if (colon != std::string::npos) {
      if (auto minor = ParseDecimal(std::string_view(*dev).substr(colon + 1))) {
        return minor;
      }
    }
  }
  if (name.substr(0, 6) == "hidraw") {
    return ParseDecimal(name.substr(6));
  }
  return std::nullopt;
}

// usbhid puts the HID device below a USB interface, below the USB device; every other
// transport (uhid, Bluetooth, I2C) has other parents, even when it claims bus USB.
void FindUsbParents(THidrawNode& node) {
  if (node.Bus != kBusUsb) {
    return;
  }
  const std::string interfaceDir = ParentOf(node.HidDir);
  const std::string deviceDir = ParentOf(interfaceDir);
  if (TSysfs::Exists(interfaceDir + "/bInterfaceNumber") &&
      TSysfs::Exists(deviceDir + "/idVendor")) {
    node.UsbInterfaceDir = interfaceDir;
    node.UsbDeviceDir = deviceDir;
  }
}

}  // namespace

std::optional<THidrawNode> DescribeNode(const TSysfs& sysfs, std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
    return std::nullopt;
  }
  const std::string classDir = sysfs.Rooted("/sys/class/hidraw/") + std::string(name);
  const auto hidDir = TSysfs::Resolve(classDir + "/device");
  const auto minor = MinorOf(classDir, name);
  if (!hidDir || !minor) {
    return std::nullopt;
  }
  const auto dirName = ParseHidDirName(BaseName(*hidDir));
  if (!dirName) {
    return std::nullopt;
  }
  THidrawNode node;
  node.Name = std::string(name);
  node.Minor = *minor;
  node.HidDir = *hidDir;
  node.Instance = dirName->Instance;
  node.Bus = dirName->Bus;
  node.Vendor = dirName->Vendor;
  node.Product = dirName->Product;

  const TUevent nodeEvent = ParseUevent(TSysfs::ReadText(classDir + "/uevent").value_or(""));
  std::string devName = UeventValue(nodeEvent, "DEVNAME").value_or(node.Name);
  if (devName.empty() || devName.find("..") != std::string::npos) {
    devName = node.Name;  // the node's path must stay below /dev
  }
  node.DevNode = sysfs.Rooted("/dev/") + devName;

  const TUevent hidEvent = ParseUevent(TSysfs::ReadText(node.HidDir + "/uevent").value_or(""));
  node.Driver = UeventValue(hidEvent, "DRIVER").value_or("");
  node.HidName = UeventValue(hidEvent, "HID_NAME").value_or("");
  node.HidPhys = UeventValue(hidEvent, "HID_PHYS").value_or("");
  node.HidUniq = UeventValue(hidEvent, "HID_UNIQ").value_or("");
  // HID_ID holds 32-bit vendor and product numbers; the platform's are 16-bit.
  if (auto id = UeventValue(hidEvent, "HID_ID");
      id && id->size() == 22 && (*id)[4] == ':' && (*id)[13] == ':') {
    const auto bus = ParseHex(std::string_view(*id).substr(0, 4), 0xFFFF);
    const auto vendor = ParseHex(std::string_view(*id).substr(5, 8));
    const auto product = ParseHex(std::string_view(*id).substr(14, 8));
    if (bus && vendor && product) {
      node.Bus = static_cast<uint16_t>(*bus);
      node.Vendor = static_cast<uint16_t>(*vendor);
      node.Product = static_cast<uint16_t>(*product);
    }
  }
  FindUsbParents(node);
  return node;
}

std::vector<THidrawNode> ListNodes(const TSysfs& sysfs) {
  std::vector<THidrawNode> nodes;
  for (const std::string& name : TSysfs::List(sysfs.Rooted("/sys/class/hidraw"))) {
    if (auto node = DescribeNode(sysfs, name)) {
      nodes.push_back(std::move(*node));
    }
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const THidrawNode& a, const THidrawNode& b) { return a.Minor < b.Minor; });
  return nodes;
}

std::optional<std::string> NodeNameFromDevice(const TSysfs& sysfs, uint32_t major, uint32_t minor) {
  const std::string link =
      sysfs.Rooted("/sys/dev/char/") + std::to_string(major) + ":" + std::to_string(minor);
  const auto dir = TSysfs::Resolve(link);
  if (!dir) {
    return std::nullopt;
  }
  // The class folder holds a link of the same name: then it is a hidraw node.
  const std::string name(BaseName(*dir));
  const auto classEntry = TSysfs::Resolve(sysfs.Rooted("/sys/class/hidraw/") + name);
  if (!classEntry || *classEntry != *dir) {
    return std::nullopt;
  }
  return name;
}

uint16_t VersionNumber(const THidrawNode& node) {
  if (!node.IsUsb()) {
    return 0;
  }
  const auto text = TSysfs::ReadText(*node.UsbDeviceDir + "/bcdDevice");
  const auto value = text ? ParseHex(*text, 0xFFFF) : std::nullopt;
  return static_cast<uint16_t>(value.value_or(0));
}

std::optional<std::vector<uint8_t>> ReportDescriptorFromSysfs(const THidrawNode& node) {
  return TSysfs::ReadBinary(node.HidDir + "/report_descriptor", kMaxDescriptor);
}

}  // namespace quorvel::hidraw
